// PictureScaler: resizes a picture of 24-bit lines to another size.
//
// Each axis gets its own filter, applied separably (down the columns first,
// then along the line): an area average when the axis shrinks, where each
// source pixel counts by how much of the destination pixel it covers, and a
// linear blend of the two nearest pixels (centres aligned) when it grows.
// An axis that keeps its size is copied. Weights are 14-bit fixed point
// summing exactly to one, so a uniform colour stays exactly that colour.
// Aspect ratio is not kept: the picture is stretched to the new size.
//
// Contract:
//  - Prepare() builds the filter tables and work lines for one pair of
//    shapes; it allocates only when the shapes differ from the last call.
//  - Scale() asks `source` for each source line (0 = top) it needs, in
//    increasing order within one destination line, and uses a line's bytes
//    only until it asks for the next one. It writes dst_height lines of
//    3 * dst_width bytes: line y at `top + y * stride` (stride may be
//    negative, for pictures stored bottom-up). It allocates nothing.
#ifndef KESTRIX_TRACK_PICTURE_SCALE_H_
#define KESTRIX_TRACK_PICTURE_SCALE_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace track {

// Source lines for the scaler, as blue, green, red bytes.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // Line y (0 = top line); valid until the next call.
  virtual const std::uint8_t* Line(std::int32_t y) = 0;
};

constexpr int kScaleWeightBits = 14;
constexpr std::uint32_t kScaleOne = 1u << kScaleWeightBits;

// One axis: for each destination pixel, the source pixels it draws from
// (`first` onward, `count` of them) and their weights.
struct AxisFilter {
  struct Span {
    std::int32_t first = 0;
    std::int32_t count = 0;
    std::size_t weights = 0;  // index of the first weight
  };
  std::vector<Span> spans;
  std::vector<std::uint32_t> weights;
};

// Fills `filter` for `src` pixels onto `dst` pixels (both at least 1).
void BuildAxisFilter(std::int32_t src, std::int32_t dst, AxisFilter& filter);

class PictureScaler {
 public:
  void Prepare(std::int32_t src_width, std::int32_t src_height, std::int32_t dst_width,
               std::int32_t dst_height);
  void Scale(LineSource& source, std::uint8_t* top, std::ptrdiff_t stride);

 private:
  std::int32_t src_width_ = 0, src_height_ = 0;
  std::int32_t dst_width_ = 0, dst_height_ = 0;
  AxisFilter columns_;  // along a line: source x onto destination x
  AxisFilter lines_;    // down a column: source lines onto destination lines
  std::vector<std::uint32_t> sums_;   // one line of weighted column sums
  std::vector<std::uint16_t> blend_;  // the same, 8 fractional bits kept
};

}  // namespace track

#endif  // KESTRIX_TRACK_PICTURE_SCALE_H_
