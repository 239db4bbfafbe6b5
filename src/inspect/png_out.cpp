#include "inspect/png_out.h"

#include <png.h>

#include <cstring>

#include "inspect/output_file.h"

namespace inspect {

Status WritePng(const std::string& path, int width, int height,
                std::span<const std::uint8_t> rgb) {
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
    return Status::Error("cannot write '" + path + "': picture size does not match its bytes");
  }
  OutputFile out(path);
  Status s = out.Open();
  if (!s.ok) return s;
  // The simplified libpng interface reports errors through the image
  // structure instead of longjmp, which keeps C++ objects safe here.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_stdio(&image, out.stream(), 0, rgb.data(), 0, nullptr)) {
    std::string why = image.message[0] ? image.message : "libpng failed";
    png_image_free(&image);
    return Status::Error("cannot write '" + path + "': " + why);
  }
  png_image_free(&image);
  return out.Commit();
}

}  // namespace inspect
