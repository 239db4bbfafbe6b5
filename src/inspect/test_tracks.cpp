#include "inspect/test_tracks.h"

#include <cstring>

namespace inspect::testing {

Bytes TrackHeader(std::uint32_t data_bytes) {
  Bytes h;
  auto id = [&](const char* s) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(s[i]));
  };
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  auto u16 = [&](std::uint16_t v) {
    h.push_back(static_cast<std::uint8_t>(v));
    h.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  id("RIFF");
  u32(36 + data_bytes);
  id("WAVE");
  id("fmt ");
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(176400);
  u16(4);
  u16(16);
  id("data");
  u32(data_bytes);
  return h;
}

track::PicturePayload TestPayload(int f) {
  track::PicturePayload p;
  std::uint32_t x = 0x9E3779B9u * static_cast<std::uint32_t>(f + 1);
  for (auto& b : p) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return p;
}

track::SoundBlock TestSound(int f) {
  track::SoundBlock s;
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::uint8_t>(i * 7 + f * 31);
  return s;
}

Bytes TestRecords(int first, int count) {
  track::RecordAssembler assembler;
  Bytes out;
  for (int f = first; f < first + count; ++f) {
    const auto& r = assembler.Assemble(TestPayload(f), TestSound(f));
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

Bytes TestTrack(int records) {
  Bytes body(kLeadInBytes, 0);
  Bytes r = TestRecords(0, records);
  body.insert(body.end(), r.begin(), r.end());
  Bytes track = TrackHeader(static_cast<std::uint32_t>(body.size()));
  track.insert(track.end(), body.begin(), body.end());
  return track;
}

track::PicturePayload ReferencePack(const std::uint8_t* rgb) {
  // Component index (0 red, 1 green, 2 blue) of sample j, by line parity.
  static const int kEven[3] = {0, 1, 2};
  static const int kOdd[3] = {1, 2, 0};
  track::PicturePayload out{};
  for (int line = 0; line < 160; ++line) {
    for (int j = 0; j < 216; ++j) {
      const bool even = line % 2 == 0;
      const int x = even ? 2 * j + 1 : 2 * j;
      const int c = even ? kEven[j % 3] : kOdd[j % 3];
      const std::uint8_t sample = rgb[(line * 432 + x) * 3 + c] >> 4;
      std::uint8_t& byte = out[static_cast<std::size_t>(line * 108 + j / 2)];
      byte = static_cast<std::uint8_t>(j % 2 == 0 ? (byte & 0xF0) | sample
                                                  : (byte & 0x0F) | (sample << 4));
    }
  }
  return out;
}

}  // namespace inspect::testing
