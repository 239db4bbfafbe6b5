#include "track/picture_convert.h"

#include <cstring>

namespace track {

PictureConverter::PictureConverter() : picture_(kConformedFrameBytes, 0) {
  std::uint8_t* h = picture_.data();
  WriteLe32(h + kBiSizeOffset, kInfoHeaderBytes);
  WriteLe32(h + kBiWidthOffset, static_cast<std::uint32_t>(kConformedWidth));
  WriteLe32(h + kBiHeightOffset, static_cast<std::uint32_t>(kConformedHeight));
  WriteLe16(h + kBiPlanesOffset, 1);
  WriteLe16(h + kBiBitCountOffset, 24);
  WriteLe32(h + kBiCompressionOffset, kBiRgb);
  WriteLe32(h + kBiSizeImageOffset, static_cast<std::uint32_t>(kConformedImageBytes));
}

void PictureConverter::FrameLines::Reset(const PictureLayout* layout,
                                         const std::uint8_t* frame,
                                         const RowExpander* expander, std::int32_t held) {
  layout_ = layout;
  frame_ = frame;
  expander_ = expander;
  if (layout->bits == 24) return;  // served from the frame itself
  line_bytes_ = 3 * static_cast<std::size_t>(layout->width);
  const std::size_t slots = static_cast<std::size_t>(held);
  // Sizes only change with the shape, so these allocate only then.
  if (slots_.size() != slots * line_bytes_) slots_.assign(slots * line_bytes_, 0);
  slot_line_.assign(slots, -1);
}

const std::uint8_t* PictureConverter::FrameLines::Line(std::int32_t y) {
  const std::uint8_t* row = layout_->Line(frame_, y);
  if (layout_->bits == 24) return row;
  const std::size_t s = static_cast<std::size_t>(y) % slot_line_.size();
  std::uint8_t* slot = slots_.data() + s * line_bytes_;
  if (slot_line_[s] != y) {
    expander_->Expand(row, slot);
    slot_line_[s] = y;
  }
  return slot;
}

const std::uint8_t* PictureConverter::Conform(const std::uint8_t* frame) {
  return Convert(frame, kUnknownFrameBytes);
}

const std::uint8_t* PictureConverter::Conform(std::span<const std::uint8_t> frame) {
  return Convert(frame.data(), frame.size());
}

const std::uint8_t* PictureConverter::Convert(const std::uint8_t* frame,
                                              std::size_t available) {
  problem_ = "";
  if (frame == nullptr) {
    problem_ = "no picture";
    return nullptr;
  }
  const std::optional<PictureLayout> found = ReadPictureLayout(frame, available, &problem_);
  if (!found) return nullptr;
  const PictureLayout& layout = *found;

  const bool packer_size =
      layout.width == kConformedWidth && layout.height == kConformedHeight;
  if (packer_size && layout.bits == 24) {
    if (!layout.top_down && layout.pixel_offset == kInfoHeaderBytes) {
      return frame;  // already the packer's picture
    }
    // Same size, only the row order or the rows' place differs.
    for (std::int32_t y = 0; y < kConformedHeight; ++y) {
      std::memcpy(OutLine(y), layout.Line(frame, y), kConformedRowBytes);
    }
    return picture_.data();
  }

  expander_.Prepare(layout, frame);
  if (packer_size) {
    for (std::int32_t y = 0; y < kConformedHeight; ++y) {
      expander_.Expand(layout.Line(frame, y), OutLine(y));
    }
    return picture_.data();
  }

  scaler_.Prepare(layout.width, layout.height, kConformedWidth, kConformedHeight);
  lines_.Reset(&layout, frame, &expander_, scaler_.lines_held());
  scaler_.Scale(lines_, OutLine(0), -static_cast<std::ptrdiff_t>(kConformedRowBytes));
  return picture_.data();
}

}  // namespace track
