// The picture a frame record carries, back as RGB.
//
// The payload keeps 216 four-bit samples per picture line, each one colour
// component of one pixel of the 432 x 160 picture: on even lines pixel
// 2j + 1 gives red, green, blue for j mod 3 = 0, 1, 2; on odd lines pixel 2j
// gives green, blue, red. So every component has a sample at one pixel in
// twelve, staggered from line to line. This unit unpacks the samples, shows
// them as they are (the mosaic), and rebuilds a full-colour picture from
// them (Rebuild).
//
// Everything here is pure computation on caller-owned buffers.
#ifndef KESTRIX_INSPECT_MOSAIC_H_
#define KESTRIX_INSPECT_MOSAIC_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "track/frame_record.h"

namespace inspect {

constexpr int kPictureWidth = 432;
constexpr int kPictureHeight = static_cast<int>(track::kPictureLines);  // 160
constexpr int kSamplesPerLine = 2 * static_cast<int>(track::kPayloadLineBytes);  // 216
constexpr std::size_t kRgbBytes = std::size_t{kPictureWidth} * kPictureHeight * 3;

// The samples of one picture, line by line, each 0 to 15.
using Samples = std::array<std::uint8_t, std::size_t{kSamplesPerLine} * kPictureHeight>;

// Top-down RGB, three bytes a pixel, 432 x 160.
using RgbPicture = std::array<std::uint8_t, kRgbBytes>;

// Where sample j of `line` sits: its pixel column and component (0 red,
// 1 green, 2 blue).
struct SamplePlace {
  int x;
  int component;
};
constexpr SamplePlace PlaceOf(int line, int j) {
  return (line % 2 == 0) ? SamplePlace{2 * j + 1, j % 3} : SamplePlace{2 * j, (j + 1) % 3};
}

// Sample 2k is the low nibble of byte k of a line, sample 2k + 1 the high.
void UnpackSamples(const track::PicturePayload& payload, Samples* samples);

// Each sample's pixel gets that component (v * 17); everything else is 0.
void RenderMosaic(const Samples& samples, RgbPicture* rgb);

// A full-colour picture interpolated from the samples (see mosaic.cpp).
void Rebuild(const Samples& samples, RgbPicture* rgb);

}  // namespace inspect

#endif  // KESTRIX_INSPECT_MOSAIC_H_
