#include "inspect/sheet.h"

#include <algorithm>

#include "inspect/font.h"

namespace inspect {
namespace {

constexpr int kMargin = 4;        // around and between cells
constexpr int kFontScale = 2;
constexpr int kLabelHeight = kDigitHeight * kFontScale + 2 * 3;
constexpr int kCellWidth = kThumbWidth + kMargin;
constexpr int kCellHeight = kThumbHeight + kLabelHeight + kMargin;
constexpr std::uint8_t kBackground = 24;
constexpr std::uint8_t kLabelColour[3] = {230, 230, 230};

}  // namespace

std::uint64_t DefaultSheetStep(std::uint64_t frames) {
  if (frames <= kSheetMaxPictures) return 1;
  return (frames + kSheetMaxPictures - 1) / kSheetMaxPictures;
}

ContactSheet::ContactSheet(std::size_t pictures, int columns)
    : columns_(std::max(1, columns)) {
  pictures = std::max<std::size_t>(pictures, 1);
  const int cols = static_cast<int>(std::min<std::size_t>(pictures, static_cast<std::size_t>(columns_)));
  const int rows = static_cast<int>((pictures + static_cast<std::size_t>(columns_) - 1) /
                                    static_cast<std::size_t>(columns_));
  width_ = kMargin + cols * kCellWidth;
  height_ = kMargin + rows * kCellHeight;
  rgb_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3, kBackground);
}

void ContactSheet::Place(std::size_t cell, const RgbPicture& picture, std::uint64_t number) {
  const int left = kMargin + static_cast<int>(cell % static_cast<std::size_t>(columns_)) * kCellWidth;
  const int top = kMargin + static_cast<int>(cell / static_cast<std::size_t>(columns_)) * kCellHeight;
  if (top + kCellHeight > height_ + kMargin) return;
  // Half size: each thumbnail pixel is the mean of a 2 x 2 block.
  for (int y = 0; y < kThumbHeight; ++y) {
    for (int x = 0; x < kThumbWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) {
          return static_cast<int>(picture[static_cast<std::size_t>((py * kPictureWidth + px) * 3 + c)]);
        };
        const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) +
                        at(2 * x + 1, 2 * y + 1);
        rgb_[(static_cast<std::size_t>(top + y) * width_ + left + x) * 3 + c] =
            static_cast<std::uint8_t>((sum + 2) / 4);
      }
    }
  }
  const int label_x = left + (kThumbWidth - NumberWidth(number, kFontScale)) / 2;
  DrawNumber(rgb_, width_, height_, label_x, top + kThumbHeight + 3, number, kFontScale,
             kLabelColour);
}

}  // namespace inspect
