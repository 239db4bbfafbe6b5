#include "track/pack.h"

namespace track {
namespace {

// Offsets of the colour components within a pixel's three bytes.
constexpr int kBlue = 0;
constexpr int kGreen = 1;
constexpr int kRed = 2;

inline std::uint8_t Sample(const std::uint8_t* row, int pixel, int component) {
  return row[3 * pixel + component] >> 4;
}

inline std::uint8_t Pair(std::uint8_t low, std::uint8_t high) {
  return static_cast<std::uint8_t>(low | (high << 4));
}

}  // namespace

void PackPicture(const std::uint8_t* frame, PicturePayload& payload) {
  for (std::size_t line = 0; line < kPictureLines; ++line) {
    const std::uint8_t* row =
        frame + kSourceHeaderBytes + (kPictureLines - 1 - line) * kSourceRowBytes;
    std::uint8_t* out = payload.data() + line * kPayloadLineBytes;
    // Twelve source pixels give three payload bytes.
    if (line % 2 == 0) {
      for (int m = 0; m < 36; ++m, row += 36, out += 3) {
        out[0] = Pair(Sample(row, 1, kRed), Sample(row, 3, kGreen));
        out[1] = Pair(Sample(row, 5, kBlue), Sample(row, 7, kRed));
        out[2] = Pair(Sample(row, 9, kGreen), Sample(row, 11, kBlue));
      }
    } else {
      for (int m = 0; m < 36; ++m, row += 36, out += 3) {
        out[0] = Pair(Sample(row, 0, kGreen), Sample(row, 2, kBlue));
        out[1] = Pair(Sample(row, 4, kRed), Sample(row, 6, kGreen));
        out[2] = Pair(Sample(row, 8, kBlue), Sample(row, 10, kRed));
      }
    }
  }
}

}  // namespace track
