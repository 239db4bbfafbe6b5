// Writing an RGB picture as a PNG file, through libpng.
#ifndef KESTRIX_INSPECT_PNG_OUT_H_
#define KESTRIX_INSPECT_PNG_OUT_H_

#include <cstdint>
#include <span>
#include <string>

#include "inspect/byte_source.h"

namespace inspect {

// Writes `rgb` (top-down, 3 bytes a pixel, width * height * 3 bytes) to
// `path` as an 8-bit RGB PNG. The file appears only when complete.
Status WritePng(const std::string& path, int width, int height,
                std::span<const std::uint8_t> rgb);

}  // namespace inspect

#endif  // KESTRIX_INSPECT_PNG_OUT_H_
