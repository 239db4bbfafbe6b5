// A tiny built-in digit font, for frame numbers under contact-sheet
// pictures. Each digit is a 3 x 5 bitmap, drawn at an integer scale.
#ifndef KESTRIX_INSPECT_FONT_H_
#define KESTRIX_INSPECT_FONT_H_

#include <cstdint>
#include <span>

namespace inspect {

constexpr int kDigitWidth = 3;
constexpr int kDigitHeight = 5;
constexpr int kDigitSpacing = 1;  // blank columns between digits, before scaling

// The width `number` takes when drawn at `scale`.
int NumberWidth(std::uint64_t number, int scale);

// Draws the decimal `number` with its top left corner at (x, y) into the
// top-down RGB picture `rgb` of `width` x `height`, in colour `rgb_colour`.
// Pixels falling outside the picture are skipped.
void DrawNumber(std::span<std::uint8_t> rgb, int width, int height, int x, int y,
                std::uint64_t number, int scale, const std::uint8_t (&rgb_colour)[3]);

}  // namespace inspect

#endif  // KESTRIX_INSPECT_FONT_H_
