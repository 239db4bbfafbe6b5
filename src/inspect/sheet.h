// A contact sheet: half-size pictures of chosen frames in a grid, each with
// its frame number under it.
#ifndef KESTRIX_INSPECT_SHEET_H_
#define KESTRIX_INSPECT_SHEET_H_

#include <cstdint>
#include <vector>

#include "inspect/mosaic.h"

namespace inspect {

constexpr int kThumbWidth = kPictureWidth / 2;    // 216
constexpr int kThumbHeight = kPictureHeight / 2;  // 80
constexpr int kSheetMaxPictures = 60;

// The default step between frames on a sheet: every frame when there are
// at most 60, else the smallest step that keeps the sheet to 60 pictures.
std::uint64_t DefaultSheetStep(std::uint64_t frames);

class ContactSheet {
 public:
  // A sheet with room for `pictures` cells, `columns` across.
  ContactSheet(std::size_t pictures, int columns);

  // Puts the half-size `picture` into cell `cell`, `number` under it.
  void Place(std::size_t cell, const RgbPicture& picture, std::uint64_t number);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<std::uint8_t>& rgb() const { return rgb_; }

 private:
  int columns_;
  int width_;
  int height_;
  std::vector<std::uint8_t> rgb_;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_SHEET_H_
