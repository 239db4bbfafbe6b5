#include "track/row_expand.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace track {

RowExpander::Component RowExpander::MakeComponent(std::uint32_t mask) {
  Component c;
  if (mask == 0) return c;
  const int low = std::countr_zero(mask);
  const int width = std::popcount(mask);
  // Keep at most the top eight bits of a wide component.
  const int kept = std::min(width, 8);
  c.shift = low + (width - kept);
  c.mask = (1u << kept) - 1;
  // Spread 0 .. 2^kept - 1 evenly over 0 .. 255, rounding to nearest.
  for (std::uint32_t v = 0; v <= c.mask; ++v) {
    c.widen[v] = static_cast<std::uint8_t>((v * 255 + c.mask / 2) / c.mask);
  }
  return c;
}

void RowExpander::Prepare(const PictureLayout& layout, const std::uint8_t* frame) {
  width_ = layout.width;
  bits_ = layout.bits;
  plain_bgrx_ = false;
  if (bits_ <= 8) {
    const std::uint32_t usable = std::min<std::uint32_t>(layout.table_entries, 1u << bits_);
    palette_.fill(0);
    const std::uint8_t* quad = frame + layout.table_offset;
    for (std::uint32_t i = 0; i < usable; ++i, quad += kRgbQuadBytes) {
      std::memcpy(&palette_[3 * i], quad, 3);
    }
  } else if (bits_ == 16 || bits_ == 32) {
    plain_bgrx_ = bits_ == 32 && layout.red_mask == 0x00FF0000 &&
                  layout.green_mask == 0x0000FF00 && layout.blue_mask == 0x000000FF;
    red_ = MakeComponent(layout.red_mask);
    green_ = MakeComponent(layout.green_mask);
    blue_ = MakeComponent(layout.blue_mask);
  }
}

void RowExpander::ExpandPalette(const std::uint8_t* row, std::uint8_t* bgr) const {
  const int per_byte = 8 / bits_;
  const unsigned index_mask = (1u << bits_) - 1;
  for (std::int32_t x = 0; x < width_; ++x) {
    // The first pixel of a byte sits in its highest bits.
    const int slot = x % per_byte;
    const unsigned index =
        (row[x / per_byte] >> (8 - bits_ * (slot + 1))) & index_mask;
    std::memcpy(bgr + 3 * x, &palette_[3 * index], 3);
  }
}

namespace {

// Kept in locals: `bgr` may alias anything, so members would be reloaded
// after every byte written.
template <int kBytes>
void ExpandMaskedPixels(const std::uint8_t* row, std::uint8_t* bgr, std::int32_t width,
                        int shift_b, std::uint32_t mask_b, const std::uint8_t* widen_b,
                        int shift_g, std::uint32_t mask_g, const std::uint8_t* widen_g,
                        int shift_r, std::uint32_t mask_r, const std::uint8_t* widen_r) {
  for (std::int32_t x = 0; x < width; ++x, row += kBytes, bgr += 3) {
    const std::uint32_t pixel = kBytes == 2 ? ReadLe16(row) : ReadLe32(row);
    const std::uint8_t b = widen_b[(pixel >> shift_b) & mask_b];
    const std::uint8_t g = widen_g[(pixel >> shift_g) & mask_g];
    const std::uint8_t r = widen_r[(pixel >> shift_r) & mask_r];
    bgr[0] = b;
    bgr[1] = g;
    bgr[2] = r;
  }
}

}  // namespace

void RowExpander::ExpandMasked(const std::uint8_t* row, std::uint8_t* bgr) const {
  if (bits_ == 16) {
    ExpandMaskedPixels<2>(row, bgr, width_, blue_.shift, blue_.mask, blue_.widen.data(),
                          green_.shift, green_.mask, green_.widen.data(), red_.shift,
                          red_.mask, red_.widen.data());
  } else {
    ExpandMaskedPixels<4>(row, bgr, width_, blue_.shift, blue_.mask, blue_.widen.data(),
                          green_.shift, green_.mask, green_.widen.data(), red_.shift,
                          red_.mask, red_.widen.data());
  }
}

void RowExpander::Expand(const std::uint8_t* row, std::uint8_t* bgr) const {
  switch (bits_) {
    case 24:
      std::memcpy(bgr, row, 3 * static_cast<std::size_t>(width_));
      return;
    case 32:
      if (plain_bgrx_) {
        for (std::int32_t x = 0; x < width_; ++x) std::memcpy(bgr + 3 * x, row + 4 * x, 3);
        return;
      }
      ExpandMasked(row, bgr);
      return;
    case 16:
      ExpandMasked(row, bgr);
      return;
    default:
      ExpandPalette(row, bgr);
      return;
  }
}

}  // namespace track
