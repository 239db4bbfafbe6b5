// A movie past 1 GiB, in OpenDML form (RIFF 'AVI ' then 'AVIX' parts), made
// by ffmpeg at test time and removed afterwards. Every frame must be
// reachable and match ffmpeg's decoding, including those and the sound that
// lie past the first RIFF part, which idx1 does not cover.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "avi/avi_parser.h"
#include "avi/avifile.h"
#include "avi/avi_test_support.h"

namespace {

using avi_test::OpenedMovie;
using avi_test::RunFfmpeg;
using avi_test::TempFile;

constexpr int kWidth = 432;
constexpr int kHeight = 160;
constexpr int kFrames = 5300;
constexpr std::size_t kFrameBytes = kWidth * kHeight * 3;

// Reads exactly out.size() bytes from a pipe.
bool ReadFully(std::FILE* pipe, std::span<std::uint8_t> out) {
  return std::fread(out.data(), 1, out.size(), pipe) == out.size();
}

TEST(LargeMovieTest, OpenDmlMoviePastOneGibIsReadWhole) {
  if (!avi_test::HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg program";
  TempFile movie("large.avi");
  ASSERT_TRUE(RunFfmpeg("-f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820 "
                        "-frames:v " + std::to_string(kFrames) +
                        " -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 2 " + movie.path()));
  struct stat st;
  ASSERT_EQ(::stat(movie.path().c_str(), &st), 0);
  ASSERT_GT(st.st_size, 1ll << 30);

  {
    avi::FileReader reader;
    ASSERT_TRUE(reader.Open(movie.path()));
    avi::Movie parsed;
    ASSERT_TRUE(avi::ParseAvi(reader, &parsed).ok());
    EXPECT_GT(parsed.riff_parts, 1u);
    EXPECT_EQ(parsed.index_source, avi::IndexSource::kOpenDml) << parsed.index_note;
    EXPECT_LT(parsed.main.total_frames, static_cast<std::uint32_t>(kFrames));  // the first part only
    EXPECT_EQ(parsed.dmlh_total_frames, static_cast<std::uint32_t>(kFrames));
    ASSERT_EQ(parsed.streams.size(), 2u);
    EXPECT_EQ(parsed.streams[0].index.chunks.size(), static_cast<std::size_t>(kFrames));
  }

  OpenedMovie m(movie.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  ASSERT_EQ(AVIStreamLength(m.video), kFrames);
  AVIFILEINFOA info;
  ASSERT_EQ(AVIFileInfoA(m.file, &info, sizeof info), AVIERR_OK);
  EXPECT_EQ(info.dwRate, 9u);
  EXPECT_EQ(info.dwLength, static_cast<DWORD>(kFrames));

  // Pictures: every frame against ffmpeg's decoding, streamed through a pipe.
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr) << AviStreamGetFrameProblem(m.video);
  std::FILE* pictures = ::popen(("ffmpeg -nostdin -v error -i " + movie.path() +
                                 " -map 0:v -f rawvideo -pix_fmt bgr24 -").c_str(), "r");
  ASSERT_NE(pictures, nullptr);
  std::vector<std::uint8_t> ref(kFrameBytes);
  int wrong_frames = 0, first_wrong = -1;
  for (int f = 0; f < kFrames; ++f) {
    ASSERT_TRUE(ReadFully(pictures, ref)) << "ffmpeg gave no frame " << f;
    const auto* frame = static_cast<const std::uint8_t*>(AVIStreamGetFrame(g, f));
    ASSERT_NE(frame, nullptr) << "frame " << f;
    const std::uint8_t* rows = frame + sizeof(BITMAPINFOHEADER);
    bool same = true;
    for (int y = 0; y < kHeight && same; ++y) {
      same = std::memcmp(rows + static_cast<std::size_t>(kHeight - 1 - y) * kWidth * 3,
                         ref.data() + static_cast<std::size_t>(y) * kWidth * 3, kWidth * 3) == 0;
    }
    if (!same && wrong_frames++ == 0) first_wrong = f;
  }
  ::pclose(pictures);
  EXPECT_EQ(wrong_frames, 0) << "first wrong frame " << first_wrong;
  EXPECT_EQ(AVIStreamGetFrame(g, kFrames), nullptr);
  AVIStreamGetFrameClose(g);

  // Sound: every frame's 980 samples, against ffmpeg's decoding.
  std::FILE* sound = ::popen(("ffmpeg -nostdin -v error -i " + movie.path() + " -map 0:a -f u8 -").c_str(), "r");
  ASSERT_NE(sound, nullptr);
  std::vector<std::uint8_t> want(1960), got(1960);
  long compared = 0;
  for (int f = 0; f < kFrames; ++f) {
    const std::size_t n = std::fread(want.data(), 1, want.size(), sound);
    LONG bytes = -1;
    ASSERT_EQ(AVIStreamRead(m.audio, f * 980, 980, got.data(), 1960, &bytes, nullptr), AVIERR_OK);
    ASSERT_EQ(static_cast<std::size_t>(bytes), n) << "frame " << f;
    ASSERT_EQ(std::memcmp(got.data(), want.data(), n), 0) << "frame " << f;
    compared += bytes;
    if (n < want.size()) break;
  }
  ::pclose(sound);
  // Most of the sound lies past the first part.
  EXPECT_GT(compared, 5000L * 1960);
}

}  // namespace
