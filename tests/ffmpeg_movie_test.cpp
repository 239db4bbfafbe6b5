// kestrix end to end over movies made by the ffmpeg program: uncompressed and
// compressed pictures, the packer's own size and others. Each run's tracks
// are compared with tracks laid out independently from ffmpeg's own decode
// of the same movie (scaled to 432 x 160 with area averaging where the size
// differs) and its sound: the sound bytes and every fixed byte exactly, the
// picture's 4-bit samples exactly for uncompressed movies of the packer's
// size and nearly all for the others.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

}  // namespace
