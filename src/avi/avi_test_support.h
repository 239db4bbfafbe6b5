// Helpers shared by the tests of src/avi: temporary files, an opened movie
// that releases itself, and reading a pixel out of a returned frame.
#ifndef KESTRIX_AVI_AVI_TEST_SUPPORT_H_
#define KESTRIX_AVI_AVI_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avi/avifile.h"
#include "tests/movie_writer.h"

namespace avi_test {

// A file in the test temp directory, removed when the object goes.
class TempFile {
 public:
  explicit TempFile(const std::string& stem) {
    static int counter = 0;
    path_ = ::testing::TempDir() + "kestrix_avi_" + std::to_string(::getpid()) + "_" +
            std::to_string(counter++) + "_" + stem;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

  bool Write(const std::vector<std::uint8_t>& bytes) const {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  std::string path_;
};

// Runs the ffmpeg program with `args` (quiet); true when it succeeds.
inline bool RunFfmpeg(const std::string& args) {
  return std::system(("ffmpeg -nostdin -v error -y " + args).c_str()) == 0;
}

inline bool HaveFfmpeg() {
  static const bool have = std::system("ffmpeg -version > /dev/null 2>&1") == 0;
  return have;
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  std::uint8_t buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  return bytes;
}

// A movie opened the way the movie source opens it.
struct OpenedMovie {
  HRESULT status = AVIERR_INTERNAL;
  PAVIFILE file = nullptr;
  PAVISTREAM video = nullptr;
  PAVISTREAM audio = nullptr;
  std::string why;

  explicit OpenedMovie(const std::string& path) {
    status = AviFileOpenExplained(&file, path.c_str(), &why);
    if (status != AVIERR_OK) return;
    AVIFileGetStream(file, &video, streamtypeVIDEO, 0);
    AVIFileGetStream(file, &audio, streamtypeAUDIO, 0);
  }
  ~OpenedMovie() {
    if (audio) AVIStreamRelease(audio);
    if (video) AVIStreamRelease(video);
    if (file) AVIFileRelease(file);
  }
  OpenedMovie(const OpenedMovie&) = delete;
  OpenedMovie& operator=(const OpenedMovie&) = delete;
};

inline const BITMAPINFOHEADER& HeaderOf(const void* frame) {
  return *static_cast<const BITMAPINFOHEADER*>(frame);
}

// The colour at (x, y), y = 0 the top row, of a returned bottom-up frame in
// any of the uncompressed layouts; 16-bit values are expanded the usual way.
inline test_movies::Bgr FramePixel(const void* frame, int x, int y) {
  const auto* p = static_cast<const std::uint8_t*>(frame);
  const BITMAPINFOHEADER& h = HeaderOf(frame);
  const int bits = h.biBitCount;
  const std::size_t stride = ((static_cast<std::size_t>(h.biWidth) * bits + 31) / 32) * 4;
  std::size_t table = 0;
  if (bits <= 8) table = (h.biClrUsed ? h.biClrUsed : 1u << bits) * 4;
  if (h.biCompression == BI_BITFIELDS) table = 12;
  const std::uint8_t* rows = p + h.biSize + table;
  const std::uint8_t* row = rows + static_cast<std::size_t>(h.biHeight - 1 - y) * stride;
  auto expand = [](unsigned v, int width) {
    return static_cast<std::uint8_t>(width == 5 ? (v << 3 | v >> 2) : (v << 2 | v >> 4));
  };
  switch (bits) {
    case 8: {
      const std::uint8_t* e = p + h.biSize + 4 * row[x];
      return {e[0], e[1], e[2]};
    }
    case 16: {
      unsigned v = row[2 * x] | row[2 * x + 1] << 8;
      if (h.biCompression == BI_BITFIELDS)  // 5-6-5
        return {expand(v & 31, 5), expand((v >> 5) & 63, 6), expand(v >> 11, 5)};
      return {expand(v & 31, 5), expand((v >> 5) & 31, 5), expand((v >> 10) & 31, 5)};
    }
    case 24: return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
    case 32: return {row[4 * x], row[4 * x + 1], row[4 * x + 2]};
  }
  return {0, 0, 0};
}

// Counts the pixels of `frame` that differ from what the writer put in
// frame f of `o` (after drop frames); 0 means the picture is right.
inline long WrongPixels(const void* frame, const test_movies::MovieOptions& o, int f) {
  long wrong = 0;
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x)
      if (!(FramePixel(frame, x, y) == test_movies::ExpectedPixel(o, f, x, y))) ++wrong;
  return wrong;
}

}  // namespace avi_test

#endif  // KESTRIX_AVI_AVI_TEST_SUPPORT_H_
