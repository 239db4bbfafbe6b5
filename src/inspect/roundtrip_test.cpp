// Round trips through kestrix itself: a movie made by ffmpeg goes through
// kestrix into tracks, and kestrix-inspect must give back exactly the sound
// bytes and the picture samples kestrix was given, and a movie that ffmpeg
// reads. Needs the ffmpeg and ffprobe programs; skipped without them.
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

#include "inspect/mosaic.h"
#include "inspect/test_tracks.h"
#include "inspect/track_set.h"

namespace inspect {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr int kFrames = 27;  // 3 seconds at 9 frames a second
constexpr int kFramesPerTrack = 10;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs a shell command; its exit status, and its stdout in *out if given.
int Shell(const std::string& command, std::string* out = nullptr) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
    if (out) out->append(buf, n);
  }
  const int status = ::pclose(p);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

class RoundTrip : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Shell("command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null") != 0) return;
    char name[] = "/tmp/kestrix-roundtrip-XXXXXX";
    dir_ = new std::string(::mkdtemp(name));
    const std::string make_movie =
        "cd " + Quote(*dir_) +
        " && ffmpeg -v error -f lavfi -i testsrc2=size=432x160:rate=9 -f lavfi -i sine=sample_rate=8820"
        " -t 3 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_u8 -ac 2 m.avi"
        " && ffmpeg -v error -i m.avi -f rawvideo -pix_fmt rgb24 pictures.rgb"
        " && ffmpeg -v error -i m.avi -f u8 -ac 2 sound.u8"
        " && " + Quote(KESTRIX_BIN) + " m.avi " + std::to_string(kFramesPerTrack) + " >kestrix.log 2>&1";
    ready_ = Shell(make_movie) == 0;
  }
  static void TearDownTestSuite() {
    if (dir_) fs::remove_all(*dir_);
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg or ffprobe not found";
    ASSERT_TRUE(ready_) << "making the movie or running kestrix failed; see " << *dir_;
  }

  static std::vector<std::string> Tracks() {
    std::vector<std::string> t;
    for (int i = 1; i <= (kFrames + kFramesPerTrack - 1) / kFramesPerTrack; ++i) {
      char n[32];
      std::snprintf(n, sizeof n, "QMT Track %02d.wav", i);
      t.push_back(*dir_ + "/" + n);
    }
    return t;
  }
  static std::string TrackArgs() {
    std::string s;
    for (const auto& t : Tracks()) s += " " + Quote(t);
    return s;
  }
  static std::string Inspect(const std::string& args) {
    return Quote(INSPECT_BIN) + " " + args;
  }

  static std::string* dir_;
  static bool ready_;
};

std::string* RoundTrip::dir_ = nullptr;
bool RoundTrip::ready_ = false;

TEST_F(RoundTrip, CheckFindsEveryRecordWhole) {
  std::string out;
  EXPECT_EQ(Shell(Inspect("check" + TrackArgs()), &out), 0) << out;
  EXPECT_NE(out.find("all records whole: 27 frames, 0 damaged"), std::string::npos) << out;
}

TEST_F(RoundTrip, SoundBytesComeBackIdentical) {
  const Bytes want = ReadAll(*dir_ + "/sound.u8");
  ASSERT_EQ(want.size(), std::size_t{kFrames} * track::kSoundBytes);
  ASSERT_EQ(Shell(Inspect("sound" + TrackArgs() + " -o " + Quote(*dir_ + "/s.wav"))), 0);
  const Bytes wav = ReadAll(*dir_ + "/s.wav");
  ASSERT_EQ(wav.size(), 44 + want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), wav.begin() + 44));
}

TEST_F(RoundTrip, PictureSamplesAreThoseOfTheMovie) {
  const Bytes pictures = ReadAll(*dir_ + "/pictures.rgb");
  ASSERT_EQ(pictures.size(), std::size_t{kFrames} * kRgbBytes);
  TrackSet set;
  ASSERT_TRUE(set.Open(Tracks()).ok);
  ASSERT_EQ(set.frame_count(), std::uint64_t{kFrames});
  auto record = std::make_unique<track::RecordBytes>();
  auto payload = std::make_unique<track::PicturePayload>();
  for (int f = 0; f < kFrames; ++f) {
    ASSERT_TRUE(set.ReadFrame(f, record.get()).ok);
    ExtractPayload(*record, payload.get());
    ASSERT_EQ(*payload, testing::ReferencePack(pictures.data() + f * kRgbBytes)) << "frame " << f;
  }
}

TEST_F(RoundTrip, RebuiltMovieOpensWithEveryFrame) {
  const std::string avi = *dir_ + "/rebuilt.avi";
  ASSERT_EQ(Shell(Inspect("movie" + TrackArgs() + " -o " + Quote(avi))), 0);
  std::string probe;
  ASSERT_EQ(Shell("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                "stream=nb_read_frames,width,height,codec_name -of default=nw=1 " + Quote(avi),
                &probe),
            0);
  EXPECT_NE(probe.find("nb_read_frames=27"), std::string::npos) << probe;
  EXPECT_NE(probe.find("width=432"), std::string::npos) << probe;
  EXPECT_NE(probe.find("height=160"), std::string::npos) << probe;
  std::string audio;
  ASSERT_EQ(Shell("ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels "
                "-of default=nw=1 " + Quote(avi), &audio), 0);
  EXPECT_NE(audio.find("sample_rate=8820"), std::string::npos) << audio;
  EXPECT_NE(audio.find("channels=2"), std::string::npos) << audio;
  // ffmpeg decodes the whole file without complaint, and the sound in it is
  // the movie's sound.
  EXPECT_EQ(Shell("ffmpeg -v error -xerror -i " + Quote(avi) + " -f null - 2>&1", &probe), 0) << probe;
  ASSERT_EQ(Shell("ffmpeg -v error -i " + Quote(avi) + " -f u8 -ac 2 " + Quote(*dir_ + "/back.u8")), 0);
  EXPECT_EQ(ReadAll(*dir_ + "/back.u8"), ReadAll(*dir_ + "/sound.u8"));
}

// Errors name the file and the reason, fail with a non-zero status, and
// leave no output behind.
TEST_F(RoundTrip, FailuresAreReportedAndLeaveNoOutput) {
  std::string out;
  EXPECT_EQ(Shell(Inspect("check " + Quote(*dir_ + "/missing.wav") + " 2>&1"), &out), 2);
  EXPECT_NE(out.find("kestrix-inspect: cannot read '" + *dir_ + "/missing.wav': No such file or directory"),
            std::string::npos) << out;
  out.clear();
  const std::string png = *dir_ + "/none.png";
  EXPECT_EQ(Shell(Inspect("frame" + TrackArgs() + " 27 -o " + Quote(png) + " 2>&1"), &out), 2);
  EXPECT_NE(out.find("there is no frame 27"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(png));
  EXPECT_EQ(Shell(Inspect("sound" + TrackArgs() + " --format s24 -o x.wav 2>&1"), &out), 2);
  EXPECT_EQ(Shell(Inspect("frame" + TrackArgs() + " 3 -o " + Quote(*dir_ + "/no/such/dir.png") + " 2>&1"), &out), 2);
  for (const auto& e : fs::directory_iterator(*dir_)) {
    EXPECT_EQ(e.path().string().find(".partial-"), std::string::npos) << e.path();
  }
}

// A track as a ripper might give it back: 37 bytes missing from the start
// and a damaged index group. check reports it and fails; frames still come.
TEST_F(RoundTrip, RippedTrackWithOffsetAndDamageIsStillRead) {
  Bytes t = ReadAll(Tracks()[0]);
  t.erase(t.begin(), t.begin() + 37);
  t[604 - 37 + 19600 * 4 + 250] ^= 0xFF;
  const std::string ripped = *dir_ + "/ripped.wav";
  std::ofstream(ripped, std::ios::binary).write(reinterpret_cast<const char*>(t.data()),
                                                 static_cast<std::streamsize>(t.size()));
  std::string out;
  EXPECT_EQ(Shell(Inspect("check " + Quote(ripped)), &out), 1) << out;
  EXPECT_NE(out.find("10 records"), std::string::npos) << out;
  EXPECT_NE(out.find("damaged: frame 4 at byte 78967: index (1 of 12 groups wrong)"), std::string::npos) << out;
  EXPECT_NE(out.find("no WAV header"), std::string::npos) << out;
  EXPECT_EQ(Shell(Inspect("frame " + Quote(ripped) + " 9 -o " + Quote(*dir_ + "/f9.png") + " 2>&1")), 0);
}

}  // namespace
}  // namespace inspect
