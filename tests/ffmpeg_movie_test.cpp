// kestrix end to end over movies made by the ffmpeg program: uncompressed and
// compressed pictures, the packer's own size and others. Each run's tracks
// are compared with tracks laid out independently from ffmpeg's own decode
// of the same movie (scaled to 432 x 160 with area averaging where the size
// differs) and its sound: the sound bytes and every fixed byte exactly, the
// picture's 4-bit samples exactly for uncompressed movies of the packer's
// size and nearly all for the others. A movie with one spoilt compressed
// chunk loses that frame alone, and one whose pictures would need a great
// deal of decoder memory is held to a bound.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/track_reference.h"

namespace {

namespace fs = std::filesystem;
using reference::Bytes;

constexpr int kFrames = 27;  // three seconds at 9 frames a second

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Shell(const std::string& command) {
  const int raw = std::system(command.c_str());
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

bool HaveFfmpeg() { return Shell("ffmpeg -version >/dev/null 2>&1") == 0; }

bool HaveEncoder(const std::string& name) {
  return Shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " + name) == 0;
}

struct MovieCase {
  const char* name;
  const char* encoder;  // ffmpeg's name for the encoder, to skip when absent
  const char* video;    // ffmpeg options for the picture stream
  int width, height;
  bool compressed;
};

class FfmpegMovieTest : public testing::TestWithParam<MovieCase> {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
    if (!HaveEncoder(GetParam().encoder)) GTEST_SKIP() << "no " << GetParam().encoder << " encoder";
    std::string pattern = testing::TempDir() + "kestrix_ffmpeg_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  std::string In(const std::string& file) { return "'" + (dir_ / file).string() + "'"; }

  fs::path dir_;
};

TEST_P(FfmpegMovieTest, TracksHoldEveryFrameAsFfmpegDecodesIt) {
  const MovieCase& c = GetParam();
  const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
  ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i testsrc2=size=" + size +
                  ":rate=9 -f lavfi -i sine=frequency=300:sample_rate=8820 -t 3 " + c.video +
                  " -c:a pcm_u8 -ac 2 -ar 8820 " + In("m.avi")),
            0);
  // ffmpeg's own decode, converted to 24 bits, then brought to 432 x 160.
  ASSERT_EQ(Shell("ffmpeg -v error -i " + In("m.avi") +
                  " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt bgr24 - | ffmpeg -v error -f rawvideo"
                  " -pix_fmt bgr24 -s " + size + " -i - -vf scale=432:160:flags=area"
                  " -f rawvideo -pix_fmt bgr24 " + In("pictures.bgr")),
            0);
  ASSERT_EQ(Shell("ffmpeg -v error -i " + In("m.avi") + " -map 0:a -f u8 -ac 2 " + In("sound.u8")), 0);

  const std::string run = "cd '" + dir_.string() + "' && '" KESTRIX_BINARY "' m.avi 10 >out.txt 2>err.txt";
  const int status = Shell(run);
  const Bytes err = ReadFile(dir_ / "err.txt");
  const std::string errors(err.begin(), err.end());
  EXPECT_EQ(status, 0) << errors;

  const Bytes pictures = ReadFile(dir_ / "pictures.bgr");
  const Bytes sound = ReadFile(dir_ / "sound.u8");
  ASSERT_EQ(pictures.size(), std::size_t{kFrames} * 432 * 160 * 3);
  ASSERT_GE(sound.size(), std::size_t{kFrames} * 1960);

#ifndef KESTRIX_WITH_FFMPEG
  if (c.compressed) {
    EXPECT_NE(errors.find("built without decoders"), std::string::npos) << errors;
    EXPECT_NE(errors.find("27 of 27 frames were skipped"), std::string::npos) << errors;
    return;
  }
#endif
  EXPECT_EQ(errors, "");

  reference::TrackBuilder builder([&pictures](int f, int x, int y) {
    const std::uint8_t* p = &pictures[((static_cast<std::size_t>(f) * 160 + y) * 432 + x) * 3];
    return reference::Colour{p[0], p[1], p[2]};
  });
  std::size_t samples = 0, equal = 0;
  for (int t = 0; t * 10 < kFrames; ++t) {
    for (int f = t * 10; f < std::min(kFrames, t * 10 + 10); ++f) {
      reference::FrameInput in;
      in.sound = Bytes(sound.begin() + f * 1960, sound.begin() + (f + 1) * 1960);
      builder.AddFrame(f, in);
    }
    const Bytes expected = builder.FinishTrack();
    char name[32];
    std::snprintf(name, sizeof name, "QMT Track %02d.wav", t + 1);
    const Bytes actual = ReadFile(dir_ / name);
    ASSERT_EQ(actual.size(), expected.size()) << name << ": every frame must be there";
    for (std::size_t k = 0; k < actual.size(); ++k) {
      const std::size_t in_record = (k - 604) % 19600;
      const bool picture = k >= 604 && in_record >= 400 && in_record % 10 != 9;
      if (!picture) {
        ASSERT_EQ(actual[k], expected[k]) << name << " byte " << k;
        continue;
      }
      for (int nibble = 0; nibble < 2; ++nibble) {
        const int a = (actual[k] >> (4 * nibble)) & 0xF;
        const int e = (expected[k] >> (4 * nibble)) & 0xF;
        ++samples;
        equal += a == e;
        ASSERT_LE(std::abs(a - e), 3) << name << " byte " << k;
      }
    }
  }
  const double share = static_cast<double>(equal) / static_cast<double>(samples);
  RecordProperty("equal_samples", std::to_string(share));
  if (!c.compressed && c.width == 432 && c.height == 160) {
    EXPECT_EQ(equal, samples) << "an uncompressed movie of the packer's size must match exactly";
  } else {
    EXPECT_GE(share, 0.99) << "share of 4-bit picture samples equal to ffmpeg's decode";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Movies, FfmpegMovieTest,
    testing::Values(
        MovieCase{"Raw432x160", "rawvideo", "-c:v rawvideo -pix_fmt bgr24", 432, 160, false},
        MovieCase{"Raw640x360", "rawvideo", "-c:v rawvideo -pix_fmt bgr24", 640, 360, false},
        MovieCase{"Raw320x240", "rawvideo", "-c:v rawvideo -pix_fmt bgr24", 320, 240, false},
        MovieCase{"Pal8", "rawvideo", "-c:v rawvideo -pix_fmt pal8", 432, 160, false},
        MovieCase{"Rgb555", "rawvideo", "-c:v rawvideo -pix_fmt rgb555le", 432, 160, false},
        MovieCase{"Mjpeg432x160", "mjpeg", "-c:v mjpeg -q:v 2", 432, 160, true},
        MovieCase{"Mjpeg1280x720", "mjpeg", "-c:v mjpeg -q:v 2", 1280, 720, true},
        MovieCase{"XvidBFrames640x360", "mpeg4", "-c:v mpeg4 -vtag XVID -bf 2 -g 12 -q:v 2", 640, 360, true},
        MovieCase{"H264BFrames320x240", "libx264", "-c:v libx264 -bf 2 -g 12 -crf 12", 320, 240, true},
        MovieCase{"Cinepak", "cinepak", "-c:v cinepak", 320, 240, true},
        MovieCase{"MsVideo1", "msvideo1", "-c:v msvideo1", 432, 160, true},
        MovieCase{"Huffyuv", "huffyuv", "-c:v huffyuv", 432, 160, true},
        MovieCase{"Ffv1", "ffv1", "-c:v ffv1", 640, 360, true}),
    [](const testing::TestParamInfo<MovieCase>& info) { return std::string(info.param.name); });

// --- One spoilt chunk in a compressed movie -------------------------------

struct SpoilCase {
  const char* name;
  // Overwrites the chunk's data (`size` bytes at `data`).
  void (*spoil)(std::uint8_t* data, std::uint32_t size);
};

std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Where picture chunk `k` of an ffmpeg movie lies (its data and size),
// found through the movie's idx1 (offsets from the 'movi' tag).
bool FindPictureChunk(const Bytes& movie, int k, std::size_t& data, std::uint32_t& size) {
  auto find = [&movie](const char* tag) {
    for (std::size_t at = 12; at + 4 <= movie.size(); ++at) {
      if (std::memcmp(&movie[at], tag, 4) == 0) return at;
    }
    return movie.size();
  };
  const std::size_t movi = find("movi");
  const std::size_t idx1 = find("idx1");
  if (movi == movie.size() || idx1 + 8 > movie.size()) return false;
  const std::size_t entries = Get32(movie, idx1 + 4) / 16;
  int seen = 0;
  for (std::size_t e = 0; e < entries && idx1 + 24 + 16 * e <= movie.size(); ++e) {
    const std::size_t at = idx1 + 8 + 16 * e;
    if (std::memcmp(&movie[at], "00dc", 4) != 0 || seen++ != k) continue;
    data = movi + Get32(movie, at + 8) + 8;
    size = Get32(movie, at + 12);
    return size > 0 && data + size <= movie.size();
  }
  return false;
}

class SpoiltChunkTest : public testing::TestWithParam<SpoilCase> {
 protected:
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
    if (!HaveEncoder("mjpeg")) GTEST_SKIP() << "no mjpeg encoder";
    std::string pattern = testing::TempDir() + "kestrix_spoilt_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // Runs kestrix over `movie` into track 1 of `folder` (made); its stderr.
  std::string Convert(const std::string& folder, const std::string& movie, int& status) {
    fs::create_directory(dir_ / folder);
    status = Shell("cd '" + (dir_ / folder).string() + "' && '" KESTRIX_BINARY "' ../" + movie +
                   " >out.txt 2>err.txt");
    const Bytes err = ReadFile(dir_ / folder / "err.txt");
    return {err.begin(), err.end()};
  }

  fs::path dir_;
};

TEST_P(SpoiltChunkTest, CostsOnlyThatFrameAndIsCounted) {
  constexpr int kSpoilt = 3;
  ASSERT_EQ(Shell("ffmpeg -v error -f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi"
                  " -i sine=frequency=300:sample_rate=8820 -t 1 -c:v mjpeg -q:v 2"
                  " -c:a pcm_u8 -ac 2 -ar 8820 '" + (dir_ / "good.avi").string() + "'"),
            0);
  Bytes movie = ReadFile(dir_ / "good.avi");
  std::size_t data = 0;
  std::uint32_t size = 0;
  ASSERT_TRUE(FindPictureChunk(movie, kSpoilt, data, size));
  GetParam().spoil(&movie[data], size);
  std::ofstream(dir_ / "bad.avi", std::ios::binary)
      .write(reinterpret_cast<const char*>(movie.data()), static_cast<std::streamsize>(movie.size()));

  int good_status = -1, bad_status = -1;
  const std::string good_err = Convert("good", "good.avi", good_status);
  const std::string bad_err = Convert("bad", "bad.avi", bad_status);
  ASSERT_EQ(good_status, 0) << good_err;
  EXPECT_EQ(bad_status, 0) << bad_err;
#ifndef KESTRIX_WITH_FFMPEG
  EXPECT_NE(bad_err.find("9 of 9 frames were skipped"), std::string::npos) << bad_err;
#else
  EXPECT_EQ(good_err, "");
  EXPECT_NE(bad_err.find("1 of 9 frames were skipped (1 without a picture, 0 without sound)"),
            std::string::npos)
      << bad_err;
  // The other eight records are exactly those of the unspoilt movie.
  const Bytes good = ReadFile(dir_ / "good" / "QMT Track 01.wav");
  const Bytes bad = ReadFile(dir_ / "bad" / "QMT Track 01.wav");
  constexpr std::size_t kRecord = 19600, kFirst = 604;
  ASSERT_EQ(good.size(), kFirst + 9 * kRecord);
  ASSERT_EQ(bad.size(), kFirst + 8 * kRecord);
  Bytes expected(good.begin(), good.begin() + kFirst + kSpoilt * kRecord);
  expected.insert(expected.end(), good.begin() + kFirst + (kSpoilt + 1) * kRecord, good.end());
  EXPECT_TRUE(std::equal(bad.begin() + 44, bad.end(), expected.begin() + 44));
  EXPECT_EQ(Get32(bad, 4), bad.size() - 8);
  EXPECT_EQ(Get32(bad, 40), bad.size() - 44);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Spoils, SpoiltChunkTest,
    testing::Values(
        SpoilCase{"Zeroed", [](std::uint8_t* d, std::uint32_t n) { std::memset(d, 0, n); }},
        // The start of the picture kept, the rest noise.
        SpoilCase{"NoiseAfterTheHeaders",
                  [](std::uint8_t* d, std::uint32_t n) {
                    std::uint32_t x = 12345;
                    for (std::uint32_t k = 200; k < n; ++k) {
                      x = x * 1103515245u + 12345u;
                      d[k] = static_cast<std::uint8_t>(x >> 16);
                    }
                  }},
        // The start-of-image marker kept, everything after it gone.
        SpoilCase{"OnlyTheStartMarker",
                  [](std::uint8_t* d, std::uint32_t n) { std::memset(d + 2, 0, n - 2); }}),
    [](const testing::TestParamInfo<SpoilCase>& info) { return std::string(info.param.name); });

// --- Decoder memory ------------------------------------------------------

// 4096 x 2160 pictures in 10-bit 4:4:4 H.264 with 16 reference pictures: a
// decoder left alone keeps about 700 MB of pictures for it. The run stays
// well under 256 MiB, losing (and counting) the frames it has no room for.
TEST(DecoderMemoryTest, PicturesNeedingTooMuchMemoryCostFramesNotMemory) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "the ffmpeg program is not installed";
  if (!HaveEncoder("libx264")) GTEST_SKIP() << "no libx264 encoder";
  std::string pattern = testing::TempDir() + "kestrix_memory_XXXXXX";
  ASSERT_TRUE(mkdtemp(pattern.data()));
  const fs::path dir = pattern;
  if (Shell("ffmpeg -v error -f lavfi -i testsrc2=size=4096x2160:rate=9 -f lavfi"
            " -i sine=sample_rate=8820 -t 1 -c:v libx264 -preset ultrafast -refs 16 -bf 3"
            " -pix_fmt yuv444p10le -c:a pcm_u8 -ac 2 '" + (dir / "m.avi").string() + "'") != 0) {
    fs::remove_all(dir);
    GTEST_SKIP() << "libx264 cannot write 10-bit 4:4:4 here";
  }
  const std::string err_path = (dir / "err.txt").string();
  const pid_t child = fork();
  if (child == 0) {
    const int out = open("/dev/null", O_WRONLY);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(dir.c_str()) != 0) _exit(126);
    execl(KESTRIX_BINARY, KESTRIX_BINARY, "m.avi", static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_GT(child, 0);
  int raw = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &raw, 0, &usage), child);
  const Bytes err = ReadFile(err_path);
  const std::string errors(err.begin(), err.end());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << errors;
  EXPECT_TRUE(fs::exists(dir / "QMT Track 01.wav"));
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer keeps freed memory back for a while: the peak says
  // nothing here.
#else
  EXPECT_LT(usage.ru_maxrss, 200L * 1024) << "peak resident kilobytes";
#endif
#ifdef KESTRIX_WITH_FFMPEG
  EXPECT_NE(errors.find("frames were skipped"), std::string::npos) << errors;
#endif
  fs::remove_all(dir);
}

}  // namespace
