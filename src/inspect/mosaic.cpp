#include "inspect/mosaic.h"

#include <algorithm>

namespace inspect {
namespace {

constexpr int kW = kPictureWidth;
constexpr int kH = kPictureHeight;

// For one component on one line: the component's samples sit every six
// pixels from `first` (0 to 5); value k is at pixel first + 6k.
struct LineSamples {
  int first = 0;
  int count = 0;
  std::uint8_t values[kSamplesPerLine / 3];
};

// Linear interpolation along one line at pixel x: the two samples on either
// side, weighted by their nearness; beyond the first or last sample, that
// sample's value. Returns the value in sample units times 6 (exact integer).
int AlongLine(const LineSamples& s, int x) {
  if (x <= s.first) return 6 * s.values[0];
  const int last = s.first + 6 * (s.count - 1);
  if (x >= last) return 6 * s.values[s.count - 1];
  const int k = (x - s.first) / 6;
  const int d = (x - s.first) - 6 * k;  // 0..5, distance to the left sample
  return (6 - d) * s.values[k] + d * s.values[k + 1];
}

}  // namespace

void UnpackSamples(const track::PicturePayload& payload, Samples* samples) {
  const std::uint8_t* in = payload.data();
  std::uint8_t* out = samples->data();
  for (std::size_t i = 0; i < track::kPayloadBytes; ++i) {
    out[2 * i] = in[i] & 0x0F;
    out[2 * i + 1] = in[i] >> 4;
  }
}

void RenderMosaic(const Samples& samples, RgbPicture* rgb) {
  rgb->fill(0);
  for (int y = 0; y < kH; ++y) {
    for (int j = 0; j < kSamplesPerLine; ++j) {
      const SamplePlace p = PlaceOf(y, j);
      const std::uint8_t v = samples[static_cast<std::size_t>(y * kSamplesPerLine + j)];
      (*rgb)[static_cast<std::size_t>((y * kW + p.x) * 3 + p.component)] =
          static_cast<std::uint8_t>(v * 17);
    }
  }
}

// The rebuilt picture, component by component:
//  1. Along each line, the component's samples sit six pixels apart. At
//     every pixel the line gives a value by linear interpolation between the
//     nearest sample on the left and on the right, each weighted by its
//     nearness (weight 6 - distance); past the line's first or last sample
//     the nearest sample is used as it is.
//  2. The pixel's value is the weighted average of that along-line value on
//     its own line (weight 2) and on the line above and the line below
//     (weight 1 each; on the top and bottom line, its one neighbour with
//     weight 1). The neighbouring lines' samples sit three pixels off this
//     line's, so together they sample the component every three pixels.
//  3. The result, in 4-bit units, is scaled to 8 bits (v * 17) and rounded.
// Everything is computed in integers; the total weight is 6 * 4 (or 6 * 3).
void Rebuild(const Samples& samples, RgbPicture* rgb) {
  // lines[y][c]: component c's samples on line y.
  static_assert(kSamplesPerLine % 3 == 0);
  std::array<std::array<LineSamples, 3>, kH> lines;
  for (int y = 0; y < kH; ++y) {
    for (int c = 0; c < 3; ++c) lines[y][c].count = 0;
    for (int j = 0; j < kSamplesPerLine; ++j) {
      const SamplePlace p = PlaceOf(y, j);
      LineSamples& ls = lines[y][p.component];
      if (ls.count == 0) ls.first = p.x;
      ls.values[ls.count++] = samples[static_cast<std::size_t>(y * kSamplesPerLine + j)];
    }
  }
  for (int y = 0; y < kH; ++y) {
    const int up = y - 1, down = y + 1;
    for (int x = 0; x < kW; ++x) {
      for (int c = 0; c < 3; ++c) {
        int sum = 2 * AlongLine(lines[y][c], x);
        int weight = 2 * 6;
        if (up >= 0) {
          sum += AlongLine(lines[up][c], x);
          weight += 6;
        }
        if (down < kH) {
          sum += AlongLine(lines[down][c], x);
          weight += 6;
        }
        const int v = (sum * 17 + weight / 2) / weight;
        (*rgb)[static_cast<std::size_t>((y * kW + x) * 3 + c)] =
            static_cast<std::uint8_t>(std::min(v, 255));
      }
    }
  }
}

}  // namespace inspect
