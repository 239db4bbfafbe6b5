// The library calls on movies made by the ffmpeg program at test time,
// compared with ffmpeg's own decoding of the same files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "avi/avifile.h"
#include "avi/avi_test_support.h"

namespace {

using avi_test::FramePixel;
using avi_test::HeaderOf;
using avi_test::OpenedMovie;
using avi_test::ReadWholeFile;
using avi_test::RunFfmpeg;
using avi_test::TempFile;

constexpr int kWidth = 432;
constexpr int kHeight = 160;

struct FfmpegCase {
  const char* name;
  const char* inputs;    // ffmpeg input options
  const char* encode;    // ffmpeg output options before the file name
  const char* sound_fmt; // raw sound format of the reference decode
  int sound_align;       // bytes a sound sample
  DWORD rate, scale;
  int tolerance;         // per channel, for pixel formats ffmpeg converts
};

const FfmpegCase kCases[] = {
    {"Bgr24TopDown",
     "-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 -t 3",
     "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 2", "u8", 2, 9, 1, 0},
    {"Bgr24BottomUpSound16",
     "-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 -t 2",
     "-c:v rawvideo -pix_fmt bgr24 -flipped_raw_rgb 1 -c:a pcm_s16le -ac 2", "s16le", 4, 9, 1, 0},
    {"NtscRateMoreSoundThanPictures",
     "-f lavfi -t 1.1 -i testsrc2=size=432x160:rate=30000/1001 -f lavfi -i sine=sample_rate=8820:duration=1.6",
     "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 2", "u8", 2, 30000, 1001, 0},
    {"Palette8",
     "-f lavfi -i testsrc2=size=432x160:rate=25 -f lavfi -i sine=sample_rate=8820 -t 1",
     "-c:v rawvideo -pix_fmt pal8 -c:a pcm_u8 -ac 1", "u8", 1, 25, 1, 0},
    {"Rgb555",
     "-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 -t 1",
     "-c:v rawvideo -pix_fmt rgb555le -c:a pcm_u8 -ac 2", "u8", 2, 9, 1, 8},
    {"Bgra32",
     "-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 -t 1",
     "-c:v rawvideo -pix_fmt bgra -c:a pcm_u8 -ac 2", "u8", 2, 9, 1, 0},
};

class FfmpegMovieTest : public ::testing::TestWithParam<FfmpegCase> {};

TEST_P(FfmpegMovieTest, PicturesAndSoundMatchFfmpegsOwnDecoding) {
  if (!avi_test::HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg program";
  const FfmpegCase& c = GetParam();
  TempFile movie("ffmpeg.avi"), pictures("ref.bgr"), sound("ref.pcm");
  ASSERT_TRUE(RunFfmpeg(std::string(c.inputs) + " " + c.encode + " " + movie.path()));
  ASSERT_TRUE(RunFfmpeg("-i " + movie.path() + " -map 0:v -f rawvideo -pix_fmt bgr24 " + pictures.path()));
  ASSERT_TRUE(RunFfmpeg("-i " + movie.path() + " -map 0:a -f " + c.sound_fmt + " " + sound.path()));
  const auto ref_pictures = ReadWholeFile(pictures.path());
  const auto ref_sound = ReadWholeFile(sound.path());
  const std::size_t frame_bytes = kWidth * kHeight * 3;
  ASSERT_GT(ref_pictures.size(), 0u);
  const LONG frames = static_cast<LONG>(ref_pictures.size() / frame_bytes);

  OpenedMovie m(movie.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  ASSERT_NE(m.video, nullptr);
  ASSERT_NE(m.audio, nullptr);
  AVIFILEINFOA info;
  ASSERT_EQ(AVIFileInfoA(m.file, &info, sizeof info), AVIERR_OK);
  EXPECT_EQ(info.dwRate, c.rate);
  EXPECT_EQ(info.dwScale, c.scale);
  EXPECT_EQ(AVIStreamLength(m.video), frames);

  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr) << AviStreamGetFrameProblem(m.video);
  for (LONG f = 0; f < frames; ++f) {
    const void* frame = AVIStreamGetFrame(g, f);
    ASSERT_NE(frame, nullptr) << "frame " << f;
    const BITMAPINFOHEADER& h = HeaderOf(frame);
    ASSERT_EQ(h.biWidth, kWidth);
    ASSERT_EQ(h.biHeight, kHeight);
    const std::uint8_t* ref = ref_pictures.data() + frame_bytes * static_cast<std::size_t>(f);
    long wrong = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const test_movies::Bgr got = FramePixel(frame, x, y);
        const std::uint8_t* want = ref + (static_cast<std::size_t>(y) * kWidth + x) * 3;
        if (std::abs(got.b - want[0]) > c.tolerance || std::abs(got.g - want[1]) > c.tolerance ||
            std::abs(got.r - want[2]) > c.tolerance)
          ++wrong;
      }
    }
    ASSERT_EQ(wrong, 0) << "frame " << f;
  }
  EXPECT_EQ(AVIStreamGetFrame(g, frames), nullptr);
  AVIStreamGetFrameClose(g);

  // All the sound, fetched 980 samples at a time into 1,960-byte blocks.
  std::vector<std::uint8_t> got;
  std::vector<std::uint8_t> block(1960);
  for (LONG start = 0;; start += 980) {
    LONG bytes = -1, samples = -1;
    ASSERT_EQ(AVIStreamRead(m.audio, start, 980, block.data(), 1960, &bytes, &samples), AVIERR_OK);
    ASSERT_EQ(bytes, samples * c.sound_align);
    got.insert(got.end(), block.begin(), block.begin() + bytes);
    if (samples < std::min(980, 1960 / c.sound_align)) break;
    // Wide samples: only half the request fits, continue after them.
    start -= 980 - samples;
  }
  EXPECT_EQ(got.size(), ref_sound.size());
  EXPECT_TRUE(got == ref_sound);
}

INSTANTIATE_TEST_SUITE_P(Movies, FfmpegMovieTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ffmpeg writing to a pipe cannot go back to fill in sizes: the RIFF and
// movi sizes stay 0xFFFFFFFF, there is no index, and lengths are placeholders.
TEST(FfmpegPipedMovieTest, UnfinishedHeadersStillGiveEveryFrame) {
  if (!avi_test::HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg program";
  TempFile movie("piped.avi"), pictures("piped.bgr");
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 -t 2 "
                        "-c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 2 -f avi - > " + movie.path()));
  ASSERT_TRUE(RunFfmpeg("-i " + movie.path() + " -map 0:v -f rawvideo -pix_fmt bgr24 " + pictures.path()));
  const auto ref = ReadWholeFile(pictures.path());
  const std::size_t frame_bytes = kWidth * kHeight * 3;
  ASSERT_EQ(ref.size() % frame_bytes, 0u);
  const LONG frames = static_cast<LONG>(ref.size() / frame_bytes);
  ASSERT_GT(frames, 0);

  OpenedMovie m(movie.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr);
  for (LONG f = 0; f < frames; ++f) {
    const auto* frame = static_cast<const std::uint8_t*>(AVIStreamGetFrame(g, f));
    ASSERT_NE(frame, nullptr) << f;
    const std::uint8_t* rows = frame + sizeof(BITMAPINFOHEADER);
    for (int y = 0; y < kHeight; ++y) {
      ASSERT_EQ(0, std::memcmp(rows + static_cast<std::size_t>(kHeight - 1 - y) * kWidth * 3,
                               ref.data() + f * frame_bytes + static_cast<std::size_t>(y) * kWidth * 3,
                               kWidth * 3)) << "frame " << f << " row " << y;
    }
  }
  EXPECT_EQ(AVIStreamGetFrame(g, frames), nullptr);
  AVIStreamGetFrameClose(g);
}

}  // namespace
