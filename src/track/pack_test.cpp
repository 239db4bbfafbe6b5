#include "track/pack.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace track {
namespace {

using Frame = std::vector<std::uint8_t>;

Frame FilledFrame(std::uint8_t value) {
  Frame f(kSourceFrameBytes, value);
  return f;
}

// The packing rule sample by sample, independent of the packer's twelve-pixel
// grouping: line L, sample j reads one component of one pixel.
std::uint8_t ExpectedSample(const Frame& f, int line, int j) {
  static const int kEvenComponent[3] = {2, 1, 0};  // red, green, blue
  static const int kOddComponent[3] = {1, 0, 2};   // green, blue, red
  const bool even = line % 2 == 0;
  const int x = even ? 2 * j + 1 : 2 * j;
  const int component = even ? kEvenComponent[j % 3] : kOddComponent[j % 3];
  const std::size_t row_start = kSourceHeaderBytes + (159 - line) * kSourceRowBytes;
  return f[row_start + 3 * x + component] >> 4;
}

TEST(PackPictureTest, FollowsTheSamplingRuleOnRandomPictures) {
  std::mt19937 random(7);
  for (int round = 0; round < 3; ++round) {
    Frame f(kSourceFrameBytes);
    for (auto& b : f) b = static_cast<std::uint8_t>(random());
    PicturePayload payload;
    PackPicture(f.data(), payload);
    for (int line = 0; line < 160; ++line) {
      for (int k = 0; k < 108; ++k) {
        const std::uint8_t byte = payload[108 * line + k];
        ASSERT_EQ(byte & 0x0F, ExpectedSample(f, line, 2 * k)) << line << " " << k;
        ASSERT_EQ(byte >> 4, ExpectedSample(f, line, 2 * k + 1)) << line << " " << k;
      }
    }
  }
}

TEST(PackPictureTest, WhiteAndBlackFillThePayload) {
  PicturePayload payload;
  PackPicture(FilledFrame(0xFF).data(), payload);
  for (auto b : payload) ASSERT_EQ(b, 0xFF);
  PackPicture(FilledFrame(0x00).data(), payload);
  for (auto b : payload) ASSERT_EQ(b, 0x00);
}

TEST(PackPictureTest, OnlyTheUpperFourBitsCount) {
  PicturePayload payload;
  for (int value = 0x10; value <= 0x1F; ++value) {
    PackPicture(FilledFrame(static_cast<std::uint8_t>(value)).data(), payload);
    for (auto b : payload) ASSERT_EQ(b, 0x11) << value;
  }
}

TEST(PackPictureTest, TopLineComesFromTheLastStoredRowAndHeaderIsIgnored) {
  Frame f = FilledFrame(0);
  for (std::size_t k = 0; k < kSourceHeaderBytes; ++k) f[k] = 0xAB;  // header: not read
  // The last stored row (the top line) starts at byte 206,104.
  ASSERT_EQ(kSourceHeaderBytes + 159 * kSourceRowBytes, 206104u);
  for (std::size_t k = 0; k < kSourceRowBytes; ++k) f[206104 + k] = 0xF0;
  PicturePayload payload;
  PackPicture(f.data(), payload);
  for (std::size_t k = 0; k < kPayloadBytes; ++k) {
    ASSERT_EQ(payload[k], k < 108 ? 0xFF : 0x00) << k;
  }
}

TEST(PackPictureTest, EvenAndOddLinesStaggerPixelsAndColours) {
  // Pixel 1 red only feeds even line bytes 0 (low); pixel 0 green odd line byte 0 (low).
  Frame f = FilledFrame(0);
  const std::size_t top = kSourceHeaderBytes + 159 * kSourceRowBytes;
  const std::size_t second = kSourceHeaderBytes + 158 * kSourceRowBytes;
  f[top + 3 * 1 + 2] = 0x90;     // line 0, pixel 1, red
  f[second + 3 * 0 + 1] = 0x50;  // line 1, pixel 0, green
  f[second + 3 * 2 + 0] = 0x70;  // line 1, pixel 2, blue
  PicturePayload payload;
  PackPicture(f.data(), payload);
  EXPECT_EQ(payload[0], 0x09);
  EXPECT_EQ(payload[108], 0x75);
  for (std::size_t k = 0; k < kPayloadBytes; ++k) {
    if (k != 0 && k != 108) {
      ASSERT_EQ(payload[k], 0) << k;
    }
  }
}

}  // namespace
}  // namespace track
