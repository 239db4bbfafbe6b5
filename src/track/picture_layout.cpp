#include "track/picture_layout.h"

#include <bit>

namespace track {

namespace {

// A mask must be one contiguous run of bits inside the pixel.
bool MaskIsUsable(std::uint32_t mask, int bits) {
  if (mask == 0) return false;
  if (bits < 32 && (mask >> bits) != 0) return false;
  const std::uint32_t run = mask >> std::countr_zero(mask);
  return (run & (run + 1)) == 0;
}

std::optional<PictureLayout> Refuse(const char** problem, const char* why) {
  if (problem) *problem = why;
  return std::nullopt;
}

}  // namespace

std::optional<PictureLayout> ReadPictureLayout(const std::uint8_t* frame,
                                               std::size_t available,
                                               const char** problem) {
  if (available < kInfoHeaderBytes) {
    return Refuse(problem, "picture shorter than its header");
  }
  PictureLayout layout;
  layout.header_bytes = ReadLe32(frame + kBiSizeOffset);
  if (layout.header_bytes < kInfoHeaderBytes) {
    return Refuse(problem, "picture header shorter than 40 bytes");
  }
  if (layout.header_bytes > kMaxHeaderBytes) {
    return Refuse(problem, "picture header implausibly long");
  }

  const auto width = static_cast<std::int32_t>(ReadLe32(frame + kBiWidthOffset));
  const auto height = static_cast<std::int32_t>(ReadLe32(frame + kBiHeightOffset));
  if (width < 1 || width > kMaxPictureSide) {
    return Refuse(problem, "picture width zero, negative or too large");
  }
  // Compare before negating: -INT32_MIN does not exist.
  if (height == 0 || height < -kMaxPictureSide || height > kMaxPictureSide) {
    return Refuse(problem, "picture height zero or too large");
  }
  layout.width = width;
  layout.top_down = height < 0;
  layout.height = layout.top_down ? -height : height;

  layout.bits = ReadLe16(frame + kBiBitCountOffset);
  layout.compression = ReadLe32(frame + kBiCompressionOffset);
  const std::uint32_t clr_used = ReadLe32(frame + kBiClrUsedOffset);
  if (clr_used > kMaxColourTableEntries) {
    return Refuse(problem, "picture colour table implausibly large");
  }

  switch (layout.bits) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (layout.compression != kBiRgb) {
        return Refuse(problem, "unsupported picture compression");
      }
      break;
    case 16:
    case 32:
      if (layout.compression != kBiRgb && layout.compression != kBiBitfields) {
        return Refuse(problem, "unsupported picture compression");
      }
      break;
    default:
      return Refuse(problem, "unsupported picture depth");
  }

  std::size_t offset = layout.header_bytes;
  if (layout.compression == kBiBitfields) {
    if (available < kMaskedHeaderBytes) {
      return Refuse(problem, "picture shorter than its colour masks");
    }
    const std::uint8_t* masks = nullptr;
    if (layout.header_bytes == kInfoHeaderBytes) {
      masks = frame + kInfoHeaderBytes;  // three DWORDs after the header
      offset += 3 * 4;
    } else if (layout.header_bytes >= kMaskedHeaderBytes) {
      masks = frame + kInfoHeaderBytes;  // inside the longer header
    } else {
      return Refuse(problem, "picture header too short to hold its colour masks");
    }
    layout.red_mask = ReadLe32(masks);
    layout.green_mask = ReadLe32(masks + 4);
    layout.blue_mask = ReadLe32(masks + 8);
    if (!MaskIsUsable(layout.red_mask, layout.bits) ||
        !MaskIsUsable(layout.green_mask, layout.bits) ||
        !MaskIsUsable(layout.blue_mask, layout.bits) ||
        (layout.red_mask & layout.green_mask) != 0 ||
        (layout.red_mask & layout.blue_mask) != 0 ||
        (layout.green_mask & layout.blue_mask) != 0) {
      return Refuse(problem, "unusable picture colour masks");
    }
  } else if (layout.bits == 16) {
    layout.red_mask = 0x7C00;  // 5-5-5, top bit unused
    layout.green_mask = 0x03E0;
    layout.blue_mask = 0x001F;
  } else if (layout.bits == 32) {
    layout.red_mask = 0x00FF0000;  // blue, green, red, unused
    layout.green_mask = 0x0000FF00;
    layout.blue_mask = 0x000000FF;
  }

  // The colour table: biClrUsed entries, or the whole 2^bits for a
  // palette picture that leaves it at zero. Deeper pictures may carry one
  // too (a hint for palette displays); it is skipped.
  std::uint32_t entries = clr_used;
  if (layout.bits <= 8 && entries == 0) entries = 1u << layout.bits;
  layout.table_offset = offset;
  layout.table_entries = layout.bits <= 8 ? entries : 0;
  offset += static_cast<std::size_t>(entries) * kRgbQuadBytes;

  layout.pixel_offset = offset;
  layout.stride = ((static_cast<std::size_t>(layout.width) * layout.bits + 31) / 32) * 4;
  layout.total_bytes = offset + layout.stride * static_cast<std::size_t>(layout.height);
  if (layout.total_bytes > available) {
    return Refuse(problem, "picture shorter than its header declares");
  }
  return layout;
}

}  // namespace track
