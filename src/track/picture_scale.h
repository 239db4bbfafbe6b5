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
//  - Scale() asks `source` for the source lines (0 = top) of one
//    destination line in increasing order, at most lines_held() of them,
//    and uses their bytes until it asks for the first line of the next
//    destination line. It writes dst_height lines of
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
  // Line y (0 = top line); its bytes must stay valid while the scaler
  // asks for up to lines_held() - 1 further lines.
  virtual const std::uint8_t* Line(std::int32_t y) = 0;
};

constexpr int kScaleWeightBits = 14;
// Fractional bits kept between the column pass and the line pass.
constexpr int kBlendBits = 7;
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

// Gives every span of `filter` (over `src` pixels) the same length, padding
// with zero weights, so the pass along a line runs a fixed loop; returns the
// length.
int EvenSpans(AxisFilter& filter, std::int32_t src);

class PictureScaler {
 public:
  void Prepare(std::int32_t src_width, std::int32_t src_height, std::int32_t dst_width,
               std::int32_t dst_height);
  void Scale(LineSource& source, std::uint8_t* top, std::ptrdiff_t stride);
  // Most source lines one destination line draws from (after Prepare).
  std::int32_t lines_held() const { return lines_held_; }

 private:
  std::int32_t src_width_ = 0, src_height_ = 0;
  std::int32_t dst_width_ = 0, dst_height_ = 0;
  AxisFilter columns_;  // along a line: source x onto destination x, even spans
  int column_taps_ = 1;  // even
  std::vector<std::uint32_t> column_pairs_;  // columns_ weights, packed in pairs
  AxisFilter lines_;  // down a column: source lines onto destination lines
  std::int32_t lines_held_ = 1;
  std::vector<const std::uint8_t*> line_ptrs_;  // one destination line's sources
  std::vector<std::uint32_t> line_pairs_;       // and their weights, in pairs
  std::vector<std::int16_t> blend_;  // column sums, kBlendBits fractional bits
};

}  // namespace track

#endif  // KESTRIX_TRACK_PICTURE_SCALE_H_
