#include "inspect/mosaic.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "inspect/test_tracks.h"
#include "track/pack.h"

namespace inspect {
namespace {

std::vector<std::uint8_t> RandomPicture(unsigned seed) {
  std::vector<std::uint8_t> rgb(kRgbBytes);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : rgb) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return rgb;
}

// Every sample unpacked from the reference packer's payload is the upper
// four bits of the source component at the place PlaceOf gives.
TEST(Mosaic, UnpackedSamplesAreTheSourceComponentsTopBits) {
  const auto rgb = RandomPicture(7);
  const track::PicturePayload payload = testing::ReferencePack(rgb.data());
  auto samples = std::make_unique<Samples>();
  UnpackSamples(payload, samples.get());
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int j = 0; j < kSamplesPerLine; ++j) {
      const SamplePlace p = PlaceOf(y, j);
      ASSERT_EQ((*samples)[y * kSamplesPerLine + j], rgb[(y * kPictureWidth + p.x) * 3 + p.component] >> 4)
          << "line " << y << " sample " << j;
    }
  }
}

// kestrix's own packer agrees with the reference packer, so what this
// program unpacks is what kestrix wrote.
TEST(Mosaic, KestrixPackerMatchesTheReference) {
  const auto rgb = RandomPicture(11);
  // The packer takes a 40-byte header and bottom-up BGR rows.
  std::vector<std::uint8_t> bmp(track::kSourceFrameBytes, 0);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      const std::uint8_t* in = &rgb[(y * kPictureWidth + x) * 3];
      std::uint8_t* out = &bmp[track::kSourceHeaderBytes + (kPictureHeight - 1 - y) * track::kSourceRowBytes + x * 3];
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  auto packed = std::make_unique<track::PicturePayload>();
  track::PackPicture(bmp.data(), *packed);
  EXPECT_EQ(*packed, testing::ReferencePack(rgb.data()));
}

TEST(Mosaic, MosaicShowsEachSampleAtItsPixelAndNothingElse) {
  const auto rgb = RandomPicture(3);
  auto samples = std::make_unique<Samples>();
  UnpackSamples(testing::ReferencePack(rgb.data()), samples.get());
  auto out = std::make_unique<RgbPicture>();
  RenderMosaic(*samples, out.get());
  std::vector<bool> is_sample(kRgbBytes, false);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int j = 0; j < kSamplesPerLine; ++j) {
      const SamplePlace p = PlaceOf(y, j);
      const std::size_t at = static_cast<std::size_t>((y * kPictureWidth + p.x) * 3 + p.component);
      is_sample[at] = true;
      EXPECT_EQ((*out)[at], (rgb[at] >> 4) * 17);
    }
  }
  for (std::size_t i = 0; i < kRgbBytes; ++i) {
    if (!is_sample[i]) {
      ASSERT_EQ((*out)[i], 0) << i;
    }
  }
}

struct Error {
  double mean;
  int max;
};

Error RebuildError(const std::vector<std::uint8_t>& rgb) {
  auto samples = std::make_unique<Samples>();
  UnpackSamples(testing::ReferencePack(rgb.data()), samples.get());
  auto out = std::make_unique<RgbPicture>();
  Rebuild(*samples, out.get());
  double sum = 0;
  int max = 0;
  for (std::size_t i = 0; i < kRgbBytes; ++i) {
    const int d = std::abs(int{(*out)[i]} - int{rgb[i]});
    sum += d;
    max = std::max(max, d);
  }
  return {sum / kRgbBytes, max};
}

// A flat colour whose components are whole 4-bit steps comes back exactly.
TEST(Rebuild, FlatColourComesBackExactly) {
  std::vector<std::uint8_t> rgb(kRgbBytes);
  for (std::size_t i = 0; i < kRgbBytes; i += 3) {
    rgb[i] = 5 * 17, rgb[i + 1] = 12 * 17, rgb[i + 2] = 15 * 17;
  }
  const Error e = RebuildError(rgb);
  EXPECT_EQ(e.max, 0);
}

// A gentle gradient: red across, green down, blue along the diagonal.
// Measured as the absolute difference per component in 8-bit units between
// the rebuilt picture and the source: the mean must stay under 6 and the
// largest at 16 or less (measured: 4.5 and 14). The 4-bit samples alone
// lose up to 15 (byte >> 4, then v * 17); on a gradient, interpolating
// between neighbouring samples averages part of that loss away.
TEST(Rebuild, SmoothGradientStaysCloseToTheSource) {
  std::vector<std::uint8_t> rgb(kRgbBytes);
  for (int y = 0; y < kPictureHeight; ++y) {
    for (int x = 0; x < kPictureWidth; ++x) {
      std::uint8_t* p = &rgb[(y * kPictureWidth + x) * 3];
      p[0] = static_cast<std::uint8_t>(x * 255 / (kPictureWidth - 1));
      p[1] = static_cast<std::uint8_t>(y * 255 / (kPictureHeight - 1));
      p[2] = static_cast<std::uint8_t>((x + 2 * y) * 255 / (kPictureWidth - 1 + 2 * (kPictureHeight - 1)));
    }
  }
  const Error e = RebuildError(rgb);
  EXPECT_LT(e.mean, 6.0);
  EXPECT_LE(e.max, 16);
  RecordProperty("mean_abs_error", std::to_string(e.mean));
  RecordProperty("max_abs_error", e.max);
  std::printf("gradient rebuild: mean abs error %.2f, max %d\n", e.mean, e.max);
}

}  // namespace
}  // namespace inspect
