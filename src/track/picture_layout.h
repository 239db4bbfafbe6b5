// PictureLayout: where everything lies in one packed bitmap frame.
//
// A frame handed back by the video-file library is a packed bitmap: a bitmap
// information header (biSize bytes), then any colour table or colour masks,
// then the rows, each padded to four bytes. ReadPictureLayout reads the
// header fields from the bytes themselves (little-endian, no alignment
// assumed, no dependence on the platform's BITMAPINFOHEADER) and works out
// the frame's whole extent from them before anything past the header is
// touched.
//
// Contract:
//  - ReadPictureLayout reads only the first 40 bytes of `frame`, plus the
//    three colour masks (bytes 40 to 51) when it declares BI_BITFIELDS, and
//    never more than `available` bytes. It returns a layout only for a frame
//    kestrix can turn into a picture: 1, 4, 8, 16, 24 or 32 bits, BI_RGB or
//    (16 and 32 bits) BI_BITFIELDS with contiguous, non-overlapping masks;
//    width and height from 1 to kMaxPictureSide; an extent within
//    `available`. Otherwise it returns nothing and says why.
//  - `total_bytes` is the frame's extent as its header implies it; with
//    `available` left at kUnknownFrameBytes the caller vouches for it.
#ifndef KESTRIX_TRACK_PICTURE_LAYOUT_H_
#define KESTRIX_TRACK_PICTURE_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <optional>

namespace track {

// Field offsets of the 40-byte bitmap information header.
constexpr std::size_t kBiSizeOffset = 0;
constexpr std::size_t kBiWidthOffset = 4;
constexpr std::size_t kBiHeightOffset = 8;
constexpr std::size_t kBiPlanesOffset = 12;
constexpr std::size_t kBiBitCountOffset = 14;
constexpr std::size_t kBiCompressionOffset = 16;
constexpr std::size_t kBiSizeImageOffset = 20;
constexpr std::size_t kBiXPelsPerMeterOffset = 24;
constexpr std::size_t kBiYPelsPerMeterOffset = 28;
constexpr std::size_t kBiClrUsedOffset = 32;
constexpr std::size_t kBiClrImportantOffset = 36;
constexpr std::size_t kInfoHeaderBytes = 40;
// A header long enough to hold its own red, green and blue masks
// (the 52-byte and longer headers: V2, V3, V4, V5).
constexpr std::size_t kMaskedHeaderBytes = 52;
// Longest header accepted; the longest defined one is 124 bytes.
constexpr std::uint32_t kMaxHeaderBytes = 4096;

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

constexpr std::size_t kRgbQuadBytes = 4;  // blue, green, red, reserved
// Largest biClrUsed accepted (a table may accompany any depth).
constexpr std::uint32_t kMaxColourTableEntries = 65536;
// Largest width and height accepted, so that memory stays bounded.
constexpr std::int32_t kMaxPictureSide = 16384;

struct PictureLayout {
  std::int32_t width = 0;
  std::int32_t height = 0;  // always positive
  bool top_down = false;    // rows stored top line first (negative biHeight)
  int bits = 0;             // 1, 4, 8, 16, 24 or 32
  std::uint32_t compression = kBiRgb;
  std::uint32_t header_bytes = 0;  // biSize
  // Colour table: `table_entries` RGBQUADs from `table_offset` (bits <= 8).
  std::size_t table_offset = 0;
  std::uint32_t table_entries = 0;
  // Masks of a 16- or 32-bit picture (the default ones for BI_RGB).
  std::uint32_t red_mask = 0;
  std::uint32_t green_mask = 0;
  std::uint32_t blue_mask = 0;
  std::size_t pixel_offset = 0;  // first stored row
  std::size_t stride = 0;        // bytes per stored row, padding included
  std::size_t total_bytes = 0;   // header + table + rows

  // Bytes of the stored row holding visual line y (0 = top line).
  const std::uint8_t* Line(const std::uint8_t* frame, std::int32_t y) const {
    const std::int32_t stored = top_down ? y : height - 1 - y;
    return frame + pixel_offset + static_cast<std::size_t>(stored) * stride;
  }
};

// Little-endian reads from unaligned bytes.
inline std::uint16_t ReadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t ReadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void WriteLe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void WriteLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// For a frame whose size is known only from its own header.
constexpr std::size_t kUnknownFrameBytes = static_cast<std::size_t>(-1);

// The layout of `frame` (`available` bytes), or nothing when kestrix cannot
// convert it; then *problem (when given) says why, as a static string.
std::optional<PictureLayout> ReadPictureLayout(const std::uint8_t* frame,
                                               std::size_t available,
                                               const char** problem = nullptr);

}  // namespace track

#endif  // KESTRIX_TRACK_PICTURE_LAYOUT_H_
