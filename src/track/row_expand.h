// RowExpander: one stored row of any supported depth as 24-bit pixels.
//
// The scaler and the same-size path work on rows of blue, green, red bytes.
// RowExpander turns a row of a 1-, 4- or 8-bit palette picture, a 16- or
// 32-bit picture with colour masks (5-5-5, 5-6-5, BGRX or any other
// contiguous masks), or a 24-bit picture into such a row.
//
// Contract:
//  - Prepare() reads the frame's colour table (at most 256 entries, those
//    inside the table the layout declares) and sets up the masks; it
//    allocates nothing. Call it once per frame, before Expand().
//  - Expand() reads layout.stride bytes at most from `row` and writes
//    3 * layout.width bytes to `bgr`. A palette index beyond the table
//    gives black.
#ifndef KESTRIX_TRACK_ROW_EXPAND_H_
#define KESTRIX_TRACK_ROW_EXPAND_H_

#include <array>
#include <cstdint>

#include "track/picture_layout.h"

namespace track {

class RowExpander {
 public:
  void Prepare(const PictureLayout& layout, const std::uint8_t* frame);
  void Expand(const std::uint8_t* row, std::uint8_t* bgr) const;

 private:
  // One colour component of a masked pixel: (pixel >> shift) & mask, then
  // widened to eight bits through `widen`.
  struct Component {
    int shift = 0;
    std::uint32_t mask = 0;
    std::array<std::uint8_t, 256> widen{};
  };
  static Component MakeComponent(std::uint32_t mask);

  void ExpandPalette(const std::uint8_t* row, std::uint8_t* bgr) const;
  void ExpandMasked(const std::uint8_t* row, std::uint8_t* bgr) const;

  std::int32_t width_ = 0;
  int bits_ = 0;
  bool plain_bgrx_ = false;  // 32 bits with the default masks
  std::array<std::uint8_t, 256 * 3> palette_{};  // blue, green, red
  Component red_, green_, blue_;
};

}  // namespace track

#endif  // KESTRIX_TRACK_ROW_EXPAND_H_
