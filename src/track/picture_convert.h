// PictureConverter: any frame the video-file library returns, as the
// packer's picture.
//
// The packer reads one fixed shape: a 40-byte header, then 160 rows of 432
// pixels of blue, green, red bytes (1,296 bytes a row), stored bottom-up.
// The library may return other frames: top-down rows (negative biHeight),
// 1-, 4- and 8-bit palette pictures, 16-bit 5-5-5 or masked pictures,
// 32-bit pictures, other sizes. Conform() turns each into that shape:
// depths are expanded to 24 bits, row order is fixed, and other sizes are
// stretched to 432 x 160 (area averaging when an axis shrinks, linear
// blending when it grows; see track/picture_scale.h).
//
// Contract:
//  - Conform() returns `frame` itself, bytes untouched, when it already has
//    the packer's shape (biSize 40, 432 x 160 bottom-up, 24 bits, BI_RGB, no
//    colour table). Otherwise it returns the converter's own picture, valid
//    until the next Conform() or the converter's end, with a complete header
//    (biSize 40, 432 x 160, 1 plane, 24 bits, BI_RGB, biSizeImage 207,360).
//    For a frame it cannot convert it returns nullptr, and problem() says
//    why (unknown compression or depth, zero or absurd sizes, a frame
//    shorter than its header declares).
//  - It reads nothing past the frame's extent as its header implies it
//    (header, colour table or masks, rows); the span form also refuses a
//    frame whose extent exceeds the span.
//  - Work buffers and filter tables are allocated when the input's shape
//    changes and reused after, so a run of same-shape frames allocates
//    nothing. One converter is used from one thread.
#ifndef KESTRIX_TRACK_PICTURE_CONVERT_H_
#define KESTRIX_TRACK_PICTURE_CONVERT_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "track/pack.h"
#include "track/picture_layout.h"
#include "track/picture_scale.h"
#include "track/row_expand.h"

namespace track {

// The packer's picture, as its own header states it.
constexpr std::int32_t kConformedWidth = static_cast<std::int32_t>(kSourceWidth);
constexpr std::int32_t kConformedHeight = static_cast<std::int32_t>(kPictureLines);
constexpr std::size_t kConformedRowBytes = kSourceRowBytes;  // 1,296
constexpr std::size_t kConformedImageBytes = kConformedRowBytes * kPictureLines;  // 207,360
constexpr std::size_t kConformedFrameBytes = kSourceFrameBytes;
static_assert(kInfoHeaderBytes == kSourceHeaderBytes);

class PictureConverter {
 public:
  PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // `frame`'s size is what its own header implies.
  const std::uint8_t* Conform(const std::uint8_t* frame);
  // `frame` must hold the whole picture its header declares.
  const std::uint8_t* Conform(std::span<const std::uint8_t> frame);

  // Why the last Conform() returned nullptr; empty after a success.
  const char* problem() const { return problem_; }

 private:
  // Serves the scaler 24-bit source lines: 24-bit rows straight from the
  // frame, other depths expanded into a ring of `held` lines, line y in
  // slot y % held (the lines of one destination line are consecutive, so
  // they never share a slot).
  class FrameLines : public LineSource {
   public:
    void Reset(const PictureLayout* layout, const std::uint8_t* frame,
               const RowExpander* expander, std::int32_t held);
    const std::uint8_t* Line(std::int32_t y) override;

   private:
    const PictureLayout* layout_ = nullptr;
    const std::uint8_t* frame_ = nullptr;
    const RowExpander* expander_ = nullptr;
    std::size_t line_bytes_ = 0;
    std::vector<std::uint8_t> slots_;
    std::vector<std::int32_t> slot_line_;  // line held by each slot, or -1
  };

  const std::uint8_t* Convert(const std::uint8_t* frame, std::size_t available);
  // Row of visual line y (0 = top) of the converter's picture.
  std::uint8_t* OutLine(std::int32_t y) {
    return picture_.data() + kInfoHeaderBytes +
           static_cast<std::size_t>(kConformedHeight - 1 - y) * kConformedRowBytes;
  }

  std::vector<std::uint8_t> picture_;  // kConformedFrameBytes
  RowExpander expander_;
  PictureScaler scaler_;
  FrameLines lines_;
  const char* problem_ = "";
};

}  // namespace track

#endif  // KESTRIX_TRACK_PICTURE_CONVERT_H_
