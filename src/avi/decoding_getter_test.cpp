// Decoded pictures against ffmpeg's own decode of the same movies.
//
// The movies are made by the ffmpeg program at test time, in each codec the
// getter must read, and opened through the library calls; every frame must be
// there, look like ffmpeg's decode in the upper four bits of each component
// (all the program keeps), and come out the same whether fetched in order or
// alone from a fresh getter.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "avi/avifile.h"
#include "avi/file_reader.h"
#include "avi/frame_getter.h"
#include "avi/stream_index.h"

namespace {

namespace fs = std::filesystem;

// One temporary folder for all the movies of this test program.
const fs::path& MovieDir() {
  static const fs::path dir = [] {
    std::string pattern = (fs::temp_directory_path() / "kestrix-decode-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    return fs::path(pattern);
  }();
  return dir;
}

class MovieDirCleanup : public ::testing::Environment {
 public:
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(MovieDir(), ignored);
  }
};
const auto* const cleanup = ::testing::AddGlobalTestEnvironment(new MovieDirCleanup);

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

// Makes `name`.avi from a test pattern once; returns its path ("" on failure).
std::string MakeMovie(const std::string& name, const std::string& size, int frames,
                      const std::string& codec, const std::string& filter = "") {
  fs::path path = MovieDir() / (name + ".avi");
  if (fs::exists(path)) return path.string();
  std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + size +
                    ":rate=25 -frames:v " + std::to_string(frames) + " " + filter + " -c:v " + codec +
                    " -an '" + path.string() + "'";
  if (std::system(cmd.c_str()) != 0) return "";
  return path.string();
}

// ffmpeg's decode: top-down rows of width*3 bytes, B,G,R.
std::vector<std::string> ReferenceFrames(const std::string& path, int width, int height) {
  std::string all = RunCommand("ffmpeg -nostdin -v error -threads 1 -i '" + path +
                        "' -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
  std::size_t frame = static_cast<std::size_t>(width) * height * 3;
  std::vector<std::string> frames;
  for (std::size_t at = 0; at + frame <= all.size(); at += frame) frames.push_back(all.substr(at, frame));
  return frames;
}

// A movie opened through the library calls, with a frame getter.
class Movie {
 public:
  explicit Movie(const std::string& path) {
    AVIFileInit();
    if (AVIFileOpenA(&file_, path.c_str(), OF_READ, nullptr) != AVIERR_OK) return;
    if (AVIFileGetStream(file_, &stream_, streamtypeVIDEO, 0) != AVIERR_OK) return;
    getter_ = AVIStreamGetFrameOpen(stream_, nullptr);
  }
  ~Movie() {
    if (getter_) AVIStreamGetFrameClose(getter_);
    if (stream_) AVIStreamRelease(stream_);
    if (file_) AVIFileRelease(file_);
    AVIFileExit();
  }
  Movie(const Movie&) = delete;
  Movie& operator=(const Movie&) = delete;

  bool ok() const { return getter_ != nullptr; }
  std::string problem() const { return stream_ ? AviStreamGetFrameProblem(stream_) : "no stream"; }
  LONG length() const { return AVIStreamLength(stream_); }
  const BITMAPINFOHEADER* Get(LONG i) { return static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(getter_, i)); }

  // Frame i's whole bitmap (header and rows), or "" when it has none.
  std::string Bitmap(LONG i) {
    const BITMAPINFOHEADER* h = Get(i);
    if (!h) return "";
    return std::string(reinterpret_cast<const char*>(h), sizeof *h + h->biSizeImage);
  }

 private:
  PAVIFILE file_ = nullptr;
  PAVISTREAM stream_ = nullptr;
  PGETFRAME getter_ = nullptr;
};

// Components whose upper four bits differ between a bottom-up bitmap and a
// top-down reference frame.
std::size_t CoarseDifferences(const std::string& bitmap, const std::string& reference, int width, int height) {
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
  const auto* rows = reinterpret_cast<const unsigned char*>(bitmap.data()) + sizeof(BITMAPINFOHEADER);
  const auto* ref = reinterpret_cast<const unsigned char*>(reference.data());
  std::size_t differ = 0;
  for (int y = 0; y < height; ++y) {
    const unsigned char* got = rows + stride * static_cast<std::size_t>(height - 1 - y);
    const unsigned char* want = ref + static_cast<std::size_t>(width) * 3 * y;
    for (int x = 0; x < width * 3; ++x) differ += (got[x] >> 4) != (want[x] >> 4);
  }
  return differ;
}

struct Case {
  const char* name;
  const char* codec;  // ffmpeg's -c:v and options
  int width;
  int height;
  int frames;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class DecodingGetterTest : public ::testing::TestWithParam<Case> {
 protected:
  std::string MoviePath() {
    const Case& c = GetParam();
    return MakeMovie(c.name, std::to_string(c.width) + "x" + std::to_string(c.height), c.frames, c.codec);
  }
};

TEST_P(DecodingGetterTest, EveryFrameMatchesFfmpegsDecode) {
  const Case& c = GetParam();
  std::string path = MoviePath();
  ASSERT_FALSE(path.empty()) << "ffmpeg could not make the movie";
  std::vector<std::string> reference = ReferenceFrames(path, c.width, c.height);
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(c.frames));

  Movie movie(path);
  ASSERT_TRUE(movie.ok()) << movie.problem();
  ASSERT_EQ(movie.length(), c.frames);
  const std::size_t components = static_cast<std::size_t>(c.width) * c.height * 3;
  std::size_t total_differ = 0;
  for (LONG i = 0; i < c.frames; ++i) {
    const BITMAPINFOHEADER* h = movie.Get(i);
    ASSERT_NE(h, nullptr) << "frame " << i;
    EXPECT_EQ(h->biSize, 40u);
    EXPECT_EQ(h->biWidth, c.width);
    EXPECT_EQ(h->biHeight, c.height);
    EXPECT_EQ(h->biPlanes, 1);
    EXPECT_EQ(h->biBitCount, 24);
    EXPECT_EQ(h->biCompression, BI_RGB);
    ASSERT_EQ(h->biSizeImage, ((static_cast<DWORD>(c.width) * 3 + 3) & ~3u) * c.height);
    std::size_t differ = CoarseDifferences(movie.Bitmap(i), reference[i], c.width, c.height);
    EXPECT_LT(differ, components / 100) << "frame " << i;
    total_differ += differ;
  }
  EXPECT_LT(total_differ, components * c.frames / 1000);
}

TEST_P(DecodingGetterTest, FrameAloneEqualsFrameInSequence) {
  const Case& c = GetParam();
  std::string path = MoviePath();
  ASSERT_FALSE(path.empty());
  std::vector<std::string> in_order;
  {
    Movie movie(path);
    ASSERT_TRUE(movie.ok()) << movie.problem();
    for (LONG i = 0; i < c.frames; ++i) in_order.push_back(movie.Bitmap(i));
  }
  // Each frame first thing from a fresh getter.
  for (LONG i = 0; i < c.frames; i += (c.frames > 24 ? 3 : 1)) {
    Movie movie(path);
    ASSERT_TRUE(movie.ok());
    EXPECT_TRUE(movie.Bitmap(i) == in_order[i]) << "frame " << i << " fetched alone";
  }
  // All frames from one getter in a shuffled order, repeats included.
  Movie movie(path);
  ASSERT_TRUE(movie.ok());
  std::vector<LONG> order;
  for (LONG i = 0; i < c.frames; ++i) order.push_back(i);
  std::mt19937 random(7);
  std::shuffle(order.begin(), order.end(), random);
  order.push_back(order.back());
  for (LONG i : order) EXPECT_TRUE(movie.Bitmap(i) == in_order[i]) << "frame " << i << " in shuffled order";
  EXPECT_EQ(movie.Get(c.frames), nullptr);
  EXPECT_EQ(movie.Get(-1), nullptr);
}

const Case kCases[] = {
    {"mjpeg", "mjpeg -q:v 3", 432, 160, 30},
    {"mjpeg_640x360", "mjpeg -q:v 3", 640, 360, 30},
    {"xvid_bframes", "mpeg4 -vtag XVID -bf 2 -g 12", 432, 160, 48},
    {"xvid_bframes_320x240", "mpeg4 -vtag XVID -bf 2 -g 12", 320, 240, 48},
    {"divx_no_bframes", "mpeg4 -vtag DX50 -g 12", 432, 160, 30},
    {"h264_bframes", "libx264 -preset veryfast -bf 2 -g 12", 432, 160, 48},
    {"h264_bframes_640x360", "libx264 -preset veryfast -bf 2 -g 12", 640, 360, 48},
    {"h264_bt709", "libx264 -preset veryfast -colorspace bt709 -color_primaries bt709 -color_trc bt709", 432, 160, 12},
    {"h264_full_range", "libx264 -preset veryfast -pix_fmt yuvj420p", 432, 160, 12},
    {"mpeg2_bframes", "mpeg2video -bf 2 -g 12", 432, 160, 48},
    {"mpeg1", "mpeg1video -g 12", 320, 240, 30},
    {"msmpeg4v3", "msmpeg4 -g 12", 320, 240, 30},
    {"cinepak", "cinepak", 320, 240, 12},
    {"msvideo1", "msvideo1", 320, 240, 30},
    {"huffyuv", "huffyuv", 432, 160, 30},
    {"ffvhuff", "ffvhuff", 432, 160, 30},
    {"ffv1", "ffv1 -g 12", 432, 160, 30},
    {"utvideo", "utvideo", 432, 160, 30},
    {"magicyuv", "magicyuv", 432, 160, 30},
    {"zmbv", "zmbv", 320, 240, 20},
    {"png", "png", 432, 160, 20},
    {"yuy2", "rawvideo -pix_fmt yuyv422 -vtag YUY2", 432, 160, 30},
    {"uyvy", "rawvideo -pix_fmt uyvy422 -vtag UYVY", 320, 240, 30},
    {"i420", "rawvideo -pix_fmt yuv420p -vtag I420", 432, 160, 30},
};

INSTANTIATE_TEST_SUITE_P(Codecs, DecodingGetterTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Where the chunks of the picture stream lie, as ffprobe sees them.
struct ProbedChunk {
  std::uint64_t offset;
  std::size_t size;
  bool key;
};
std::vector<ProbedChunk> ProbeChunks(const std::string& path) {
  std::string text = RunCommand(
      "ffprobe -v error -select_streams v -show_entries packet=pos,size,flags -of csv=p=0 '" + path + "'");
  std::vector<ProbedChunk> chunks;
  unsigned long long size = 0, pos = 0;
  char key = 0;
  for (const char* at = text.c_str(); std::sscanf(at, "%llu,%llu,%c", &size, &pos, &key) == 3;) {
    chunks.push_back({pos, static_cast<std::size_t>(size), key == 'K'});
    at = std::strchr(at, '\n');
    if (!at) break;
    ++at;
  }
  return chunks;
}

void Overwrite(const std::string& path, std::uint64_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Offsets of "MJPG" in a file: the strh handler comes before the strf
// compression.
std::vector<std::size_t> MjpgTags(const std::string& path) {
  std::string bytes = RunCommand("cat '" + path + "'");
  std::vector<std::size_t> at;
  for (std::size_t p = bytes.find("MJPG"); p != std::string::npos; p = bytes.find("MJPG", p + 4)) at.push_back(p);
  return at;
}

// Rewrites the picture size in strf of an MJPEG movie made by ffmpeg.
void PatchPictureSize(const std::string& path, std::int32_t width, std::int32_t height) {
  std::size_t compression = MjpgTags(path).at(1);  // strf: biWidth and biHeight come 12 and 8 bytes before
  Overwrite(path, compression - 12, std::string(reinterpret_cast<const char*>(&width), 4));
  Overwrite(path, compression - 8, std::string(reinterpret_cast<const char*>(&height), 4));
}

// A copy of a fresh MJPEG movie of `size` pictures whose header says
// width x height; its path ("" when ffmpeg cannot make it).
std::string MjpegWithDeclaredSize(const std::string& name, const std::string& size, int frames,
                                  std::int32_t width, std::int32_t height) {
  std::string made = MakeMovie(name + "_src", size, frames, "mjpeg");
  if (made.empty()) return "";
  std::string path = (MovieDir() / (name + ".avi")).string();
  fs::copy_file(made, path, fs::copy_options::overwrite_existing);
  PatchPictureSize(path, width, height);
  return path;
}

TEST(DecodingGetter, UnknownCompressionFallsBackToTheHandler) {
  std::string made = MakeMovie("handler_src", "432x160", 5, "mjpeg");
  ASSERT_FALSE(made.empty());
  std::string path = (MovieDir() / "handler.avi").string();
  fs::copy_file(made, path, fs::copy_options::overwrite_existing);
  std::vector<std::size_t> tags = MjpgTags(path);
  ASSERT_EQ(tags.size(), 2u);
  Overwrite(path, tags[1], "XYZ1");  // strf's biCompression only
  Movie movie(path);
  ASSERT_TRUE(movie.ok()) << movie.problem();
  EXPECT_NE(movie.Get(4), nullptr);
}

// The pictures inside the chunks are 432 x 160 whatever the header says: the
// bitmap keeps the header's size, holding the decoded picture from its top
// left corner, cut off or with black around it.
TEST(DecodingGetter, DecodedSizeOtherThanTheHeaders) {
  std::string made = MakeMovie("resized_src", "432x160", 3, "mjpeg");
  ASSERT_FALSE(made.empty());
  std::vector<std::string> reference = ReferenceFrames(made, 432, 160);
  ASSERT_EQ(reference.size(), 3u);
  const struct {
    std::int32_t width, height;
  } sizes[] = {{400, 150}, {440, 170}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    std::string path = (MovieDir() / "resized.avi").string();
    fs::copy_file(made, path, fs::copy_options::overwrite_existing);
    PatchPictureSize(path, size.width, size.height);
    Movie movie(path);
    ASSERT_TRUE(movie.ok()) << movie.problem();
    const BITMAPINFOHEADER* h = movie.Get(2);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->biWidth, size.width);
    ASSERT_EQ(h->biHeight, size.height);
    const std::size_t stride = (static_cast<std::size_t>(size.width) * 3 + 3) & ~std::size_t{3};
    ASSERT_EQ(h->biSizeImage, stride * size.height);
    const auto* rows = reinterpret_cast<const unsigned char*>(h + 1);
    const auto* ref = reinterpret_cast<const unsigned char*>(reference[2].data());
    std::size_t differ = 0, not_black = 0;
    for (int y = 0; y < size.height; ++y)
      for (int x = 0; x < size.width * 3; ++x) {
        unsigned char got = rows[stride * (size.height - 1 - y) + x];
        if (y < 160 && x < 432 * 3)
          differ += (got >> 4) != (ref[432 * 3 * y + x] >> 4);
        else
          not_black += got != 0;
      }
    EXPECT_LT(differ, std::size_t{400} * 150 * 3 / 100);
    EXPECT_EQ(not_black, 0u);
  }
}

// Pictures past 9 million pixels are refused, whether the header declares
// them (no getter, and it says why) or the chunks hold them behind a header
// of a modest size (the decoder is held to the same bound: no picture, and
// nothing of their size is allocated).
TEST(DecodingGetter, PicturesPastThePixelBoundAreRefused) {
  std::string declared = MjpegWithDeclaredSize("bound_declared", "432x160", 2, 4000, 3000);
  ASSERT_FALSE(declared.empty());
  Movie big_header(declared);
  EXPECT_FALSE(big_header.ok());
  EXPECT_EQ(big_header.problem(), "the picture size 4000 x 3000 cannot be decoded");

  std::string hidden = MjpegWithDeclaredSize("bound_hidden", "4096x2400", 2, 432, 160);
  ASSERT_FALSE(hidden.empty());
  Movie big_chunks(hidden);
  ASSERT_TRUE(big_chunks.ok()) << big_chunks.problem();
  EXPECT_EQ(big_chunks.Get(0), nullptr);
  EXPECT_EQ(big_chunks.Get(1), nullptr);

  // Within the bound (4096 x 2160, cinema 4K), pictures decode.
  std::string fits = MjpegWithDeclaredSize("bound_fits", "4096x2160", 1, 432, 160);
  ASSERT_FALSE(fits.empty());
  Movie fitting(fits);
  ASSERT_TRUE(fitting.ok()) << fitting.problem();
  EXPECT_NE(fitting.Get(0), nullptr);
}

TEST(DecodingGetter, UnknownCodecGivesNoGetterAndSaysWhich) {
  std::string made = MakeMovie("unknown_src", "432x160", 5, "mjpeg");
  ASSERT_FALSE(made.empty());
  std::string path = (MovieDir() / "unknown.avi").string();
  fs::copy_file(made, path, fs::copy_options::overwrite_existing);
  for (std::size_t at : MjpgTags(path)) Overwrite(path, at, "XYZ1");
  Movie movie(path);
  EXPECT_FALSE(movie.ok());
  EXPECT_EQ(movie.problem(), "no decoder for 'XYZ1' pictures");
}

TEST(DecodingGetter, UndecodableFramesHaveNoPictureAndOthersStillDo) {
  std::string made = MakeMovie("broken_src", "432x160", 12, "mjpeg");
  ASSERT_FALSE(made.empty());
  std::string path = (MovieDir() / "broken.avi").string();
  fs::copy_file(made, path, fs::copy_options::overwrite_existing);
  std::vector<ProbedChunk> chunks = ProbeChunks(path);
  ASSERT_EQ(chunks.size(), 12u);
  auto broken = [](LONG i) { return i == 2 || (i >= 5 && i <= 7); };
  for (LONG i = 0; i < 12; ++i)
    if (broken(i)) Overwrite(path, chunks[i].offset, std::string(chunks[i].size, '\0'));

  Movie movie(path);
  ASSERT_TRUE(movie.ok()) << movie.problem();
  for (LONG i = 0; i < 12; ++i) EXPECT_EQ(movie.Get(i) == nullptr, broken(i)) << "frame " << i;
  // Also each frame fetched alone.
  for (LONG i = 0; i < 12; ++i) {
    Movie alone(path);
    ASSERT_TRUE(alone.ok());
    EXPECT_EQ(alone.Get(i) == nullptr, broken(i)) << "frame " << i << " alone";
  }
}

// ffmpeg writes an empty chunk where a frame time has no picture: here frame
// 7 of 25.
TEST(DecodingGetter, DropFrameRepeatsThePreviousPicture) {
  const struct {
    const char* name;
    const char* codec;
  } kinds[] = {{"drop_mjpeg", "mjpeg"}, {"drop_xvid", "mpeg4 -vtag XVID -bf 2 -g 12"}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(kind.name);
    std::string path = MakeMovie(kind.name, "432x160", 24, kind.codec,
                                 "-vf select='not(eq(n\\,7))' -fps_mode passthrough");
    ASSERT_FALSE(path.empty());
    Movie movie(path);
    ASSERT_TRUE(movie.ok()) << movie.problem();
    ASSERT_EQ(movie.length(), 25);
    std::vector<std::string> frames;
    for (LONG i = 0; i < 25; ++i) {
      frames.push_back(movie.Bitmap(i));
      ASSERT_FALSE(frames.back().empty()) << "frame " << i;
    }
    EXPECT_TRUE(frames[7] == frames[6]);
    EXPECT_FALSE(frames[8] == frames[7]);
    EXPECT_FALSE(frames[6] == frames[5]);
    Movie alone(path);
    ASSERT_TRUE(alone.ok());
    EXPECT_TRUE(alone.Bitmap(7) == frames[6]);
  }
}

// Packed MPEG-4, as older DivX and Xvid writers store B-frames: the chunk of
// each reference picture also carries the B-frame shown before it, and the
// next chunk holds a not-coded placeholder. Built here from an unpacked
// movie's chunks (and read through a hand-made index, since only the chunks
// change); every frame must come out as in the unpacked movie.
bool StartsBFrame(const std::string& chunk) {
  std::size_t vop = chunk.find(std::string("\0\0\x01\xB6", 4));
  return vop != std::string::npos && vop + 4 < chunk.size() &&
         (static_cast<unsigned char>(chunk[vop + 4]) >> 6) == 2;
}

TEST(DecodingGetter, PackedMpeg4ShowsEachPictureAtItsFrame) {
  const int kFrames = 36;
  std::string unpacked = MakeMovie("packed_src", "432x160", kFrames, "mpeg4 -vtag XVID -bf 1 -g 12");
  ASSERT_FALSE(unpacked.empty());
  std::vector<std::string> want;
  {
    Movie movie(unpacked);
    ASSERT_TRUE(movie.ok()) << movie.problem();
    for (LONG i = 0; i < kFrames; ++i) want.push_back(movie.Bitmap(i));
  }
  std::vector<ProbedChunk> probed = ProbeChunks(unpacked);
  ASSERT_EQ(probed.size(), static_cast<std::size_t>(kFrames));
  std::string bytes = RunCommand("cat '" + unpacked + "'");
  std::vector<std::string> chunks;
  for (const ProbedChunk& c : probed) chunks.push_back(bytes.substr(c.offset, c.size));

  // A P-VOP with vop_coded = 0 (5-bit time increments at 25 frames a second).
  const std::string kPlaceholder("\0\0\x01\xB6\x50\x4F", 6);
  std::string packed;
  avi::StreamIndex index;
  index.has_key_frame_flags = true;
  int pairs = 0;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    std::string data = chunks[c];
    bool pack = c + 1 < chunks.size() && !StartsBFrame(data) && StartsBFrame(chunks[c + 1]);
    if (pack) data += chunks[c + 1];
    index.chunks.push_back({packed.size(), static_cast<std::uint32_t>(data.size()), probed[c].key});
    packed += data;
    if (pack) {
      index.chunks.push_back({packed.size(), static_cast<std::uint32_t>(kPlaceholder.size()), false});
      packed += kPlaceholder;
      ++c;
      ++pairs;
    }
  }
  ASSERT_GT(pairs, kFrames / 3);
  ASSERT_EQ(index.chunks.size(), chunks.size());
  std::string path = (MovieDir() / "packed.m4v").string();
  std::ofstream(path, std::ios::binary).write(packed.data(), static_cast<std::streamsize>(packed.size()));

  avi::FileReader file;
  ASSERT_TRUE(file.Open(path));
  avi::PictureStream stream;
  stream.file = &file;
  stream.index = &index;
  stream.header = {40, 432, 160, 1, 24, mmioFOURCC('X', 'V', 'I', 'D'), 0, 0, 0, 0, 0};
  stream.format = {reinterpret_cast<const std::uint8_t*>(&stream.header), sizeof stream.header};
  stream.length = kFrames;
  std::string why;
  auto bitmap = [](const std::uint8_t* p) {
    if (!p) return std::string();
    BITMAPINFOHEADER h;
    std::memcpy(&h, p, sizeof h);
    return std::string(reinterpret_cast<const char*>(p), sizeof h + h.biSizeImage);
  };
  {
    auto getter = avi::OpenDecodingGetter(stream, &why);
    ASSERT_NE(getter, nullptr) << why;
    for (int i = 0; i < kFrames; ++i) EXPECT_TRUE(bitmap(getter->Get(i)) == want[i]) << "frame " << i;
  }
  for (int i : {1, 2, 11, 12, 13, 23, 24, kFrames - 1}) {
    auto getter = avi::OpenDecodingGetter(stream, &why);
    ASSERT_NE(getter, nullptr) << why;
    EXPECT_TRUE(bitmap(getter->Get(i)) == want[i]) << "frame " << i << " fetched alone";
  }
}

// An 8-bit run-length movie (BI_RLE8) written here: its colours come from
// the table after the header, and its rows (30 pixels, so padded) come out
// bottom-up like every other picture.
TEST(DecodingGetter, EightBitRunLengthPicturesUseTheColourTable) {
  const int kWidth = 30, kHeight = 8, kFrames = 3;
  auto index_at = [](int f, int x, int y) { return (x * 5 + y * 17 + f * 29) % 256; };
  auto colour = [](int k) {  // B, G, R of table entry k
    return std::array<std::uint8_t, 3>{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k),
                                       static_cast<std::uint8_t>(k * 3)};
  };
  std::string format(40, '\0');
  BITMAPINFOHEADER h{40, kWidth, kHeight, 1, 8, 1 /* BI_RLE8 */, 0, 0, 0, 256, 0};
  std::memcpy(format.data(), &h, sizeof h);
  for (int k = 0; k < 256; ++k) {
    auto c = colour(k);
    format += std::string{static_cast<char>(c[0]), static_cast<char>(c[1]), static_cast<char>(c[2]), '\0'};
  }
  std::string data;
  avi::StreamIndex index;
  index.has_key_frame_flags = true;
  for (int f = 0; f < kFrames; ++f) {
    std::string chunk;
    for (int y = kHeight - 1; y >= 0; --y) {  // bottom row first
      for (int x = 0; x < kWidth; ++x) {
        chunk += '\x01';
        chunk += static_cast<char>(index_at(f, x, y));
      }
      chunk += std::string("\0\0", 2);  // end of row
    }
    chunk += std::string("\0\x01", 2);  // end of picture
    index.chunks.push_back({data.size(), static_cast<std::uint32_t>(chunk.size()), true});
    data += chunk;
  }
  std::string path = (MovieDir() / "rle8.bin").string();
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  avi::FileReader file;
  ASSERT_TRUE(file.Open(path));
  avi::PictureStream stream;
  stream.file = &file;
  stream.index = &index;
  stream.header = h;
  stream.format = {reinterpret_cast<const std::uint8_t*>(format.data()), format.size()};
  stream.length = kFrames;
  std::string why;
  for (int first : {0, 2}) {  // in order, and starting with the last frame alone
    auto getter = avi::OpenDecodingGetter(stream, &why);
    ASSERT_NE(getter, nullptr) << why;
    for (int n = 0; n < kFrames; ++n) {
      int f = (first + n) % kFrames;
      const std::uint8_t* p = getter->Get(f);
      ASSERT_NE(p, nullptr) << "frame " << f;
      BITMAPINFOHEADER out;
      std::memcpy(&out, p, sizeof out);
      ASSERT_EQ(out.biSizeImage, 92u * kHeight);
      int wrong = 0;
      for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
          const std::uint8_t* px = p + 40 + 92 * (kHeight - 1 - y) + 3 * x;
          auto want = colour(index_at(f, x, y));
          wrong += px[0] != want[0] || px[1] != want[1] || px[2] != want[2];
        }
      EXPECT_EQ(wrong, 0) << "frame " << f;
    }
  }
}

// An index without key-frame flags: intra-only codecs start anywhere, the
// others from the first chunk; either way a frame fetched alone is the frame
// fetched in order.
TEST(DecodingGetter, IndexWithoutKeyFrameFlags) {
  for (const char* codec : {"mjpeg", "mpeg4 -vtag XVID -bf 2 -g 12"}) {
    SCOPED_TRACE(codec);
    std::string path = MakeMovie(std::string("noflags_") + (codec[1] == 'j' ? "mjpeg" : "xvid"), "432x160", 30,
                                 codec);
    ASSERT_FALSE(path.empty());
    std::vector<std::string> want;
    {
      Movie movie(path);
      ASSERT_TRUE(movie.ok()) << movie.problem();
      for (LONG i = 0; i < 30; ++i) want.push_back(movie.Bitmap(i));
    }
    avi::StreamIndex index;
    index.has_key_frame_flags = false;
    for (const ProbedChunk& c : ProbeChunks(path))
      index.chunks.push_back({c.offset, static_cast<std::uint32_t>(c.size), true});
    ASSERT_EQ(index.chunks.size(), 30u);
    avi::FileReader file;
    ASSERT_TRUE(file.Open(path));
    avi::PictureStream stream;
    stream.file = &file;
    stream.index = &index;
    stream.header = {40, 432, 160, 1, 24,
                     codec[1] == 'j' ? mmioFOURCC('M', 'J', 'P', 'G') : mmioFOURCC('X', 'V', 'I', 'D'), 0, 0, 0, 0, 0};
    stream.format = {reinterpret_cast<const std::uint8_t*>(&stream.header), sizeof stream.header};
    stream.length = 30;
    std::string why;
    auto getter = avi::OpenDecodingGetter(stream, &why);
    ASSERT_NE(getter, nullptr) << why;
    for (int i : {17, 3, 29, 11, 12, 0, 25}) {
      const std::uint8_t* p = getter->Get(i);
      ASSERT_NE(p, nullptr) << "frame " << i;
      EXPECT_TRUE(std::string(reinterpret_cast<const char*>(p), want[i].size()) == want[i]) << "frame " << i;
    }
  }
}

}  // namespace
