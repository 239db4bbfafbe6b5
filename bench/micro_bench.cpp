// The per-frame steps of a conversion, timed one by one: packing a picture,
// assembling a record, and bringing other frames into the packer's shape.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "track/frame_record.h"
#include "track/pack.h"
#include "track/picture_convert.h"

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t n) {
  std::mt19937 random(1);
  std::vector<std::uint8_t> b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(random());
  return b;
}

void Put32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// A packed 24-bit bitmap of the given size and row order.
std::vector<std::uint8_t> Bitmap(int width, int height, bool top_down) {
  const std::size_t row = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  auto b = RandomBytes(40 + row * height);
  std::memset(b.data(), 0, 40);
  Put32(&b[0], 40);
  Put32(&b[4], static_cast<std::uint32_t>(width));
  Put32(&b[8], static_cast<std::uint32_t>(top_down ? -height : height));
  b[12] = 1;
  b[14] = 24;
  return b;
}

void BM_PackPicture(benchmark::State& state) {
  const auto frame = RandomBytes(track::kSourceFrameBytes);
  track::PicturePayload payload;
  for (auto _ : state) {
    track::PackPicture(frame.data(), payload);
    benchmark::DoNotOptimize(payload.data());
  }
}
BENCHMARK(BM_PackPicture);

void BM_AssembleRecord(benchmark::State& state) {
  track::RecordAssembler assembler;
  track::PicturePayload payload{};
  track::SoundBlock sound{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(assembler.Assemble(payload, sound).data());
  }
}
BENCHMARK(BM_AssembleRecord);

void BM_Conform(benchmark::State& state) {
  const auto frame = Bitmap(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                            state.range(2) != 0);
  track::PictureConverter converter;
  for (auto _ : state) benchmark::DoNotOptimize(converter.Conform(frame.data()));
}
// The packer's own shape (nothing to do), the same upside down, and other sizes.
BENCHMARK(BM_Conform)->Args({432, 160, 0})->Args({432, 160, 1})->Args({640, 360, 1})
    ->Args({320, 240, 1})->Args({1280, 720, 1});

}  // namespace
