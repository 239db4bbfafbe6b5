// make_test_movie: writes one test movie of the test-movie writer to a file,
// for scripts that need a movie with a chosen layout (a bottom-up picture
// stream, say, which ffmpeg never writes).
//
//   make_test_movie <out.avi> [name=value ...]
//
// Names: frames, width, height, rate, scale, layout (bottom-up, top-down,
// palette8, rgb555, rgb565, rgb32), channels, bits, sound-rate,
// sound-samples (total samples in the sound stream), index (relative,
// absolute, none), rec (0 or 1: each frame's chunks in a 'rec ' list), sound
// (0: no sound stream), truncate (cut the file after that many bytes), odml
// (OpenDML in that many RIFF parts), odd (1: odd-sized chunks between the
// real ones), drop (that frame as an empty picture chunk; may repeat).
// Unknown names and malformed numbers are refused with status 2, so a typo
// never silently writes some other movie.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/movie_writer.h"

namespace {

using test_movies::IndexKind;
using test_movies::MovieOptions;
using test_movies::PixelLayout;

bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  out = v;
  return true;
}

bool ParseLayout(const std::string& text, PixelLayout& out) {
  struct Name {
    const char* text;
    PixelLayout layout;
  };
  static constexpr Name kNames[] = {
      {"bottom-up", PixelLayout::kBottomUp24}, {"top-down", PixelLayout::kTopDown24},
      {"palette8", PixelLayout::kPalette8},    {"rgb555", PixelLayout::kRgb555},
      {"rgb565", PixelLayout::kRgb565},        {"rgb32", PixelLayout::kRgb32},
  };
  for (const Name& n : kNames) {
    if (text == n.text) {
      out = n.layout;
      return true;
    }
  }
  return false;
}

bool ParseIndex(const std::string& text, IndexKind& out) {
  if (text == "relative") out = IndexKind::kIdx1Relative;
  else if (text == "absolute") out = IndexKind::kIdx1Absolute;
  else if (text == "none") out = IndexKind::kNone;
  else return false;
  return true;
}

// Applies one name=value setting; false when it is not one.
bool Apply(const std::string& setting, MovieOptions& o) {
  const std::size_t eq = setting.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = setting.substr(0, eq);
  const std::string value = setting.substr(eq + 1);
  std::uint64_t n = 0;
  auto number = [&](std::uint64_t max) { return ParseNumber(value, max, n); };
  if (name == "frames" && number(1u << 20)) o.frames = static_cast<int>(n);
  else if (name == "width" && number(8192) && n > 0) o.width = static_cast<int>(n);
  else if (name == "height" && number(8192) && n > 0) o.height = static_cast<int>(n);
  else if (name == "rate" && number(UINT32_MAX) && n > 0) o.rate = static_cast<std::uint32_t>(n);
  else if (name == "scale" && number(UINT32_MAX) && n > 0) o.scale = static_cast<std::uint32_t>(n);
  else if (name == "channels" && number(2) && n > 0) o.sound.channels = static_cast<int>(n);
  else if (name == "bits" && number(16) && (n == 8 || n == 16)) o.sound.bits = static_cast<int>(n);
  else if (name == "sound-rate" && number(UINT32_MAX) && n > 0) o.sound.rate = static_cast<std::uint32_t>(n);
  else if (name == "sound-samples" && number(UINT32_MAX)) o.sound.total_samples = n;
  else if (name == "rec" && number(1)) o.rec_lists = n == 1;
  else if (name == "sound" && number(1)) o.with_sound = n == 1;
  else if (name == "truncate" && number(UINT64_MAX)) o.truncate_at = n;
  else if (name == "odml" && number(64)) o.odml_parts = static_cast<int>(n);
  else if (name == "odd" && number(1)) o.odd_chunks = n == 1;
  else if (name == "drop" && number(1u << 20)) o.drop_frames.push_back(static_cast<int>(n));
  else if (name == "layout") return ParseLayout(value, o.layout);
  else if (name == "index") return ParseIndex(value, o.index);
  else return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // A first argument like --help is a request for the usage, not a file name.
  if (argc < 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: make_test_movie <out.avi> [name=value ...]\n");
    return 2;
  }
  MovieOptions options;
  for (int k = 2; k < argc; ++k) {
    if (!Apply(argv[k], options)) {
      std::fprintf(stderr, "make_test_movie: not a setting: %s\n", argv[k]);
      return 2;
    }
  }
  if (!test_movies::WriteMovieFile(options, argv[1])) {
    std::fprintf(stderr, "make_test_movie: cannot write %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  return 0;
}
