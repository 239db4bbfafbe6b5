#include "inspect/font.h"

#include <string>

namespace inspect {
namespace {

// Row r of digit d: bit 2 is the left column.
constexpr std::uint8_t kDigits[10][kDigitHeight] = {
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 7, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 1, 1, 1},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
};

}  // namespace

int NumberWidth(std::uint64_t number, int scale) {
  const int n = static_cast<int>(std::to_string(number).size());
  return (n * (kDigitWidth + kDigitSpacing) - kDigitSpacing) * scale;
}

void DrawNumber(std::span<std::uint8_t> rgb, int width, int height, int x, int y,
                std::uint64_t number, int scale, const std::uint8_t (&rgb_colour)[3]) {
  const std::string text = std::to_string(number);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto& rows = kDigits[text[i] - '0'];
    const int left = x + static_cast<int>(i) * (kDigitWidth + kDigitSpacing) * scale;
    for (int r = 0; r < kDigitHeight; ++r) {
      for (int c = 0; c < kDigitWidth; ++c) {
        if (!(rows[r] & (4 >> c))) continue;
        for (int dy = 0; dy < scale; ++dy) {
          for (int dx = 0; dx < scale; ++dx) {
            const int px = left + c * scale + dx, py = y + r * scale + dy;
            if (px < 0 || py < 0 || px >= width || py >= height) continue;
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(py) * width + px) * 3];
            p[0] = rgb_colour[0];
            p[1] = rgb_colour[1];
            p[2] = rgb_colour[2];
          }
        }
      }
    }
  }
}

}  // namespace inspect
