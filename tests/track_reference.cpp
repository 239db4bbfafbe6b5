#include "tests/track_reference.h"

#include <algorithm>
#include <cstring>

#include "track/frame_record.h"

namespace reference {
namespace {

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Sample j of line L: even lines take pixel 2j + 1 in the colour order red,
// green, blue; odd lines pixel 2j in the order green, blue, red.
std::uint8_t Sample(const PictureFn& picture, int f, int line, int j) {
  const bool even = line % 2 == 0;
  const Colour c = picture(f, even ? 2 * j + 1 : 2 * j, line);
  const int step = (j + (even ? 0 : 1)) % 3;
  const std::uint8_t v = step == 0 ? c.r : step == 1 ? c.g : c.b;
  return v >> 4;
}

}  // namespace

void TrackBuilder::AddFrame(int f, const FrameInput& input) {
  if (!input.has_picture || !input.sound) return;
  if (!input.sound->empty()) std::memcpy(sound_, input.sound->data(), input.sound->size());
  std::uint8_t payload[17280];
  for (int line = 0; line < 160; ++line) {
    for (int k = 0; k < 108; ++k) {
      payload[108 * line + k] = static_cast<std::uint8_t>(
          Sample(picture_, f, line, 2 * k) | Sample(picture_, f, line, 2 * k + 1) << 4);
    }
  }
  for (int g = 0; g < 1960; ++g) {
    const std::uint8_t* nine = g < 40 ? track::ConstantGroup(g).data() : &payload[9 * (g - 40)];
    records_.insert(records_.end(), nine, nine + 9);
    records_.push_back(sound_[g]);
  }
}

Bytes TrackBuilder::FinishTrack() {
  Bytes file(604 + records_.size(), 0);
  std::memcpy(&file[0], "RIFF", 4);
  std::memcpy(&file[8], "WAVEfmt ", 8);
  const std::uint8_t format[20] = {16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0,
                                   0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  std::memcpy(&file[16], format, sizeof format);
  std::memcpy(&file[36], "data", 4);
  std::copy(records_.begin(), records_.end(), file.begin() + 604);
  Put32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
  Put32(file, 40, static_cast<std::uint32_t>(file.size() - 44));
  records_.clear();
  return file;
}

}  // namespace reference
