// The kestrix program end to end: movies of our own writer and of ffmpeg in,
// track files and console text out, compared byte for byte with what the
// movie must give.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "tests/movie_writer.h"
#include "tests/track_reference.h"

namespace {

namespace fs = std::filesystem;
using reference::Bytes;
using test_movies::MovieOptions;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string ReadText(const fs::path& path) {
  Bytes b = ReadFile(path);
  return {b.begin(), b.end()};
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class KestrixTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = testing::TempDir() + "kestrix_e2e_XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs kestrix in the test's folder with standard input from /dev/null and
  // its standard output and error caught. With `max_bytes`, every file it
  // writes is held to that size (the C library's file-size limit, SIGXFSZ
  // ignored so that writes past it fail with EFBIG, as on a full disk); the
  // caught output is held to it too, so keep it above a few hundred bytes.
  RunResult RunKestrix(const std::vector<std::string>& args, rlim_t max_bytes = RLIM_INFINITY) {
    const std::string out = (dir_ / "stdout.txt").string();
    const std::string err = (dir_ / "stderr.txt").string();
    std::vector<std::string> words = {KESTRIX_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    RunResult run;
    const pid_t child = fork();
    if (child == 0) {
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int i = open("/dev/null", O_RDONLY);
      const rlimit limit{max_bytes, max_bytes};
      if (o < 0 || e < 0 || i < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || dup2(i, 0) < 0 ||
          chdir(dir_.c_str()) != 0 ||
          (max_bytes != RLIM_INFINITY &&
           (signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0))) {
        _exit(126);
      }
      execv(argv[0], argv.data());
      _exit(127);
    }
    int raw = 0;
    if (child < 0 || waitpid(child, &raw, 0) != child) return run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = ReadText(out);
    run.err = ReadText(err);
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  void WriteMovie(const MovieOptions& options, const std::string& name = "m.avi") {
    ASSERT_TRUE(test_movies::WriteMovieFile(options, (dir_ / name).string()));
  }

  std::vector<std::string> TrackNames() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("QMT Track ", 0) == 0) names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir_;
};

std::string TrackName(int t) {
  char name[32];
  std::snprintf(name, sizeof name, "QMT Track %02d.wav", t);
  return name;
}

// The tracks a writer movie must give with `per_track` frames a track.
std::vector<Bytes> ExpectedTracks(const MovieOptions& o, int frames, int per_track) {
  reference::TrackBuilder builder([&o](int f, int x, int y) {
    const auto c = test_movies::ExpectedPixel(o, f, x, y);
    return reference::Colour{c.b, c.g, c.r};
  });
  std::vector<Bytes> tracks;
  if (per_track <= 0) per_track = frames > 0 ? frames : 1;
  int f = 0;
  do {
    for (int n = 0; n < per_track && f < std::max(frames, 1); ++n, ++f) {
      reference::FrameInput in;
      in.has_picture = f < frames && test_movies::ShownFrame(o, f) >= 0;
      in.sound = test_movies::ExpectedSound(o, static_cast<std::uint64_t>(f) * 980, 980);
      builder.AddFrame(f, in);
    }
    tracks.push_back(builder.FinishTrack());
  } while (f < frames);
  return tracks;
}

std::string Report(const std::string& name, int bits, int channels, int rate, int fps, int width,
                   int height, int depth) {
  return "InputFile: " + name + "\n\n" + "Audio:\t BitsPerSample\t" + std::to_string(bits) +
         "\n      \t Channels\t" + std::to_string(channels) + "\n      \t SampleRate\t" +
         std::to_string(rate) + "\n\n" + "Video:\t Rate\t" + std::to_string(fps) +
         "\n      \t Width\t" + std::to_string(width) + "\n      \t Height\t" +
         std::to_string(height) + "\n      \t bitsPerPixel\t" + std::to_string(depth) + "\n\n";
}

// The progress lines of the first `lines` frames of a movie of `frames`.
std::string Progress(int frames, int lines = -1) {
  if (lines < 0) lines = std::max(frames, 1);
  std::string s;
  for (int i = 0; i < lines; ++i) {
    s += "writing frame: " + std::to_string(i + 1) + " Of " + std::to_string(frames) + " Frames\r";
  }
  return s;
}

// Splits "...\nDone in N seconds\n" off the end; empty when it is not there.
std::string TakeDone(std::string& out) {
  static const std::regex done("\nDone in [0-9]+ seconds\n$");
  std::smatch m;
  if (!std::regex_search(out, m, done)) return "";
  std::string line = m.str();
  out.erase(out.size() - line.size());
  return line;
}

}  // namespace

namespace {

// Each track file equals the expected one, and there are no others.
void ExpectTracks(const fs::path& dir, const std::vector<std::string>& names,
                  const std::vector<Bytes>& expected) {
  ASSERT_EQ(names.size(), expected.size());
  for (std::size_t t = 0; t < expected.size(); ++t) {
    ASSERT_EQ(names[t], TrackName(static_cast<int>(t) + 1));
    const Bytes actual = ReadFile(dir / names[t]);
    ASSERT_EQ(actual.size(), expected[t].size()) << names[t];
    ASSERT_TRUE(actual == expected[t]) << names[t] << " differs from the expected bytes";
  }
}

// --- Whole runs over our own movies, byte for byte --------------------------

struct LayoutCase {
  const char* name;
  MovieOptions options;
};

MovieOptions With(void (*change)(MovieOptions&)) {
  MovieOptions o;
  o.frames = 12;
  change(o);
  return o;
}

class LayoutTest : public KestrixTest, public testing::WithParamInterface<LayoutCase> {};

TEST_P(LayoutTest, TracksAndConsoleMatchByteForByte) {
  const MovieOptions& o = GetParam().options;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi", "5"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(TakeDone(run.out), "");
  const int height = o.layout == test_movies::PixelLayout::kTopDown24 ? -o.height : o.height;
  EXPECT_EQ(run.out, Report("m.avi", o.sound.bits, o.sound.channels, 8820, 9, o.width, height, 24) +
                         Progress(o.frames));
  ExpectTracks(dir_, TrackNames(), ExpectedTracks(o, o.frames, 5));
}

INSTANTIATE_TEST_SUITE_P(
    Movies, LayoutTest,
    testing::Values(
        LayoutCase{"BottomUp", With([](MovieOptions&) {})},
        LayoutCase{"TopDown", With([](MovieOptions& o) { o.layout = test_movies::PixelLayout::kTopDown24; })},
        LayoutCase{"RecLists", With([](MovieOptions& o) { o.rec_lists = true; })},
        LayoutCase{"NoIndex", With([](MovieOptions& o) { o.index = test_movies::IndexKind::kNone; })},
        LayoutCase{"AbsoluteIndex", With([](MovieOptions& o) { o.index = test_movies::IndexKind::kIdx1Absolute; })},
        LayoutCase{"DamagedIndex", With([](MovieOptions& o) { o.index_damage = test_movies::IndexDamage::kWrongOffsets; })},
        LayoutCase{"IndexClaimingMoreThanTheFile", With([](MovieOptions& o) { o.index_damage = test_movies::IndexDamage::kHugeCount; })},
        LayoutCase{"OpenDml", With([](MovieOptions& o) { o.odml_parts = 3; })},
        LayoutCase{"OpenDmlWithoutIdx1", With([](MovieOptions& o) { o.odml_parts = 2; o.index = test_movies::IndexKind::kNone; })},
        LayoutCase{"OpenDmlIndexListingItself", With([](MovieOptions& o) { o.odml_parts = 2; o.odml_damage = test_movies::OdmlDamage::kSelfLoop; })},
        LayoutCase{"OpenDmlIndexOffsetsWrong", With([](MovieOptions& o) { o.odml_parts = 2; o.odml_damage = test_movies::OdmlDamage::kWrongOffsets; })},
        LayoutCase{"OddChunks", With([](MovieOptions& o) { o.odd_chunks = true; })},
        LayoutCase{"DropFrames", With([](MovieOptions& o) { o.drop_frames = {3, 4, 9}; })},
        LayoutCase{"UnevenSoundChunks", With([](MovieOptions& o) { o.sound.chunk_samples = {441, 1500, 7}; })},
        LayoutCase{"SixteenBitMono", With([](MovieOptions& o) { o.sound.channels = 1; o.sound.bits = 16; })},
        // Sound ends inside frame 7: the tail of later records repeats the
        // last sound read, as the sound block is never cleared.
        LayoutCase{"ShortSound", With([](MovieOptions& o) { o.sound.total_samples = 980 * 7 + 300; })}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// --- Cutting the movie into tracks ------------------------------------------

struct CutCase {
  const char* argument;  // nullptr: none given
  int per_track;         // what the tracks must be cut by (0: one track)
};

class CutTest : public KestrixTest, public testing::WithParamInterface<CutCase> {};

TEST_P(CutTest, FramesGoIntoConsecutiveTracks) {
  MovieOptions o;
  o.frames = 10;
  WriteMovie(o);
  std::vector<std::string> args = {"m.avi"};
  if (GetParam().argument) args.push_back(GetParam().argument);
  RunResult run = RunKestrix(args);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(TakeDone(run.out), "");
  ExpectTracks(dir_, TrackNames(), ExpectedTracks(o, 10, GetParam().per_track));
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CutTest,
    testing::Values(CutCase{"3", 3}, CutCase{nullptr, 0}, CutCase{"0", 0}, CutCase{"abc", 0},
                    CutCase{"-4", 0}, CutCase{"20", 0}, CutCase{"99999999999999", 0},
                    CutCase{"  7x", 7}, CutCase{"1", 1}, CutCase{"10", 0}),
    [](const testing::TestParamInfo<CutCase>& info) {
      std::string name = info.param.argument ? info.param.argument : "none";
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return "Arg" + name + "_" + std::to_string(info.index);
    });

TEST_F(KestrixTest, TenFramesAtThreeATrackMakeFourTracks) {
  MovieOptions o;
  o.frames = 10;
  WriteMovie(o);
  RunKestrix({"m.avi", "3"});
  const auto names = TrackNames();
  ASSERT_EQ(names.size(), 4u);
  const std::int64_t sizes[] = {604 + 3 * 19600, 604 + 3 * 19600, 604 + 3 * 19600, 604 + 19600};
  for (int t = 0; t < 4; ++t) EXPECT_EQ(fs::file_size(dir_ / names[t]), sizes[t]);
}

TEST_F(KestrixTest, EmptyPictureStreamStillMakesOneTrack) {
  MovieOptions o;
  o.frames = 0;
  o.sound.total_samples = 2000;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(TakeDone(run.out), "");
  EXPECT_EQ(run.out, Report("m.avi", 8, 2, 8820, 9, 432, 160, 24) + "writing frame: 1 Of 0 Frames\r");
  ASSERT_EQ(TrackNames(), std::vector<std::string>{"QMT Track 01.wav"});
  EXPECT_EQ(fs::file_size(dir_ / "QMT Track 01.wav"), 604u);
}

// --- The command line and the movie's name --------------------------------

TEST_F(KestrixTest, NoArgumentsPrintsUsage) {
  RunResult run = RunKestrix({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "usage: kestrix.exe <inFilename> <framesPerFile>\n");
  EXPECT_TRUE(TrackNames().empty());
}

TEST_F(KestrixTest, QuotesAroundTheNameAreRemoved) {
  MovieOptions o;
  o.frames = 2;
  WriteMovie(o, "my movie.avi");
  for (const char* arg : {"\"my movie.avi\"", "\"my movie.avi", "my movie.avi\""}) {
    RunResult run = RunKestrix({arg});
    EXPECT_EQ(run.status, 0) << arg << run.err;
    EXPECT_EQ(run.out.rfind("InputFile: my movie.avi\n\n", 0), 0u) << arg;
  }
  RunResult inner = RunKestrix({"my \"movie.avi"});
  EXPECT_EQ(inner.status, 1);
  EXPECT_EQ(inner.out, "");
  EXPECT_NE(inner.err.find("my \"movie.avi"), std::string::npos) << inner.err;
}

// --- Movies that cannot be used: stdout as the program always had it, one
// line on stderr, status 1 ---------------------------------------------------

TEST_F(KestrixTest, MissingMovieFailsWithReason) {
  RunResult run = RunKestrix({"nothing.avi"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("nothing.avi"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("No such file"), std::string::npos) << run.err;
  EXPECT_TRUE(TrackNames().empty());
}

TEST_F(KestrixTest, EmptyNameFails) {
  RunResult run = RunKestrix({""});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
}

TEST_F(KestrixTest, NotAMovieFails) {
  std::ofstream(dir_ / "text.avi") << "this is not a movie at all, just text";
  RunResult run = RunKestrix({"text.avi"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("text.avi"), std::string::npos) << run.err;
}

TEST_F(KestrixTest, MovieWithoutSoundPrintsOnlyItsName) {
  MovieOptions o;
  o.with_sound = false;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "InputFile: m.avi\n\n");
  EXPECT_NE(run.err.find("no sound stream"), std::string::npos) << run.err;
  EXPECT_TRUE(TrackNames().empty());
}

// --- Output that fails -----------------------------------------------------

TEST_F(KestrixTest, TrackThatCannotBeCreatedStopsTheRun) {
  MovieOptions o;
  o.frames = 6;
  WriteMovie(o);
  fs::create_directory(dir_ / "QMT Track 02.wav");
  RunResult run = RunKestrix({"m.avi", "3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, Report("m.avi", 8, 2, 8820, 9, 432, 160, 24) + Progress(6, 3) +
                         "\nCould Not open output file: --QMT Track 02.wav--\n\n");
  EXPECT_NE(run.err.find("QMT Track 02.wav"), std::string::npos) << run.err;
  EXPECT_EQ(ReadFile(dir_ / "QMT Track 01.wav"), ExpectedTracks(o, 6, 3)[0]);
}

// A track that points at /dev/full: the run stops there, the tracks before
// it are kept whole, it is removed, and the message says all of that. Track
// 2 of 3-frame tracks fails when it is finished (it never fills the 1 MiB
// output buffer); track 3 of 60-frame tracks fails as the buffer first fills.
struct FullDiskCase {
  const char* name;
  int frames;
  int per_track;
  int failing;           // the track that points at /dev/full
  const char* complete;  // what the message says of the tracks before
};

class FullDiskTest : public KestrixTest, public testing::WithParamInterface<FullDiskCase> {};

TEST_P(FullDiskTest, StopsTheRunKeepsTheFinishedTracksAndRemovesTheUnfinishedOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  const FullDiskCase& c = GetParam();
  MovieOptions o;
  o.frames = c.frames;
  WriteMovie(o);
  const std::string failing = TrackName(c.failing);
  fs::create_symlink("/dev/full", dir_ / failing);
  RunResult run = RunKestrix({"m.avi", std::to_string(c.per_track)});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(TakeDone(run.out), "");
  EXPECT_EQ(run.err, "kestrix: cannot write \"" + failing +
                         "\": No space left on device; the unfinished track was removed; " + c.complete + "\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / failing)));
  std::vector<Bytes> expected = ExpectedTracks(o, c.frames, c.per_track);
  expected.resize(static_cast<std::size_t>(c.failing - 1));
  ExpectTracks(dir_, TrackNames(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, FullDiskTest,
    testing::Values(FullDiskCase{"SecondTrackAtItsEnd", 6, 3, 2, "track 1 is complete"},
                    FullDiskCase{"ThirdTrackPastTheOutputBuffer", 180, 60, 3, "tracks 1 to 2 are complete"}),
    [](const testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.name); });

// A file-size limit stops the first track at every kind of point: in its
// header, at and in its first record, at and past the 1 MiB the output
// buffer holds (the first real write), at a record boundary, in its last
// record, in its very last byte. 130 frames at 60 a track make tracks of 1,176,604 bytes (twice)
// and 196,604 bytes.
struct LimitCase {
  const char* name;
  rlim_t limit;
};

constexpr rlim_t kFullTrack = 604 + 60 * 19600;

class FileLimitTest : public KestrixTest, public testing::WithParamInterface<LimitCase> {};

TEST_P(FileLimitTest, StopsTheRunRemovesTheTrackAndSaysSo) {
  MovieOptions o;
  o.frames = 130;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi", "60"}, GetParam().limit);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(TakeDone(run.out), "");
  EXPECT_EQ(run.err,
            "kestrix: cannot write \"QMT Track 01.wav\": File too large; the unfinished track was removed\n");
  EXPECT_TRUE(TrackNames().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Points, FileLimitTest,
    testing::Values(LimitCase{"InTheHeader", 300}, LimitCase{"AtTheFirstRecord", 604},
                    LimitCase{"InTheFirstRecord", 604 + 1000},
                    LimitCase{"AtTheOutputBuffersEnd", 1024 * 1024},
                    LimitCase{"JustPastTheOutputBuffer", 1024 * 1024 + 1},
                    LimitCase{"AtARecordBoundary", 604 + 55 * 19600},
                    LimitCase{"InTheLastRecord", kFullTrack - 10000},
                    LimitCase{"InTheLastByte", kFullTrack - 1}),
    [](const testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

TEST_F(KestrixTest, TracksThatJustFitTheFileLimitAreComplete) {
  MovieOptions o;
  o.frames = 130;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi", "60"}, kFullTrack);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_NE(TakeDone(run.out), "");
  ExpectTracks(dir_, TrackNames(), ExpectedTracks(o, 130, 60));
}

TEST_F(KestrixTest, TrackPastFourGigabytesIsRefusedBeforeWriting) {
  MovieOptions o;
  o.width = 4;
  o.height = 2;
  o.frames = 219131;
  o.sound.total_samples = 1000;
  o.sound.chunk_samples = {1000};
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("219130"), std::string::npos) << run.err;
  EXPECT_TRUE(TrackNames().empty());
  RunResult fits = RunKestrix({"m.avi", "219131"});
  EXPECT_EQ(fits.status, 1);
  EXPECT_TRUE(TrackNames().empty());
}

// --- Damaged movies --------------------------------------------------------

TEST_F(KestrixTest, TruncatedMovieKeepsEveryWholeFrameAndSaysWhatWasLost) {
  MovieOptions o;
  o.frames = 10;
  const std::size_t full = test_movies::WriteMovie(o).size();
  o.truncate_at = full / 2;
  WriteMovie(o);
  RunResult run = RunKestrix({"m.avi"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(TakeDone(run.out), "");
  const auto names = TrackNames();
  ASSERT_EQ(names.size(), 1u);
  const Bytes actual = ReadFile(dir_ / names[0]);
  ASSERT_GT(actual.size(), 604u);
  const std::size_t kept = (actual.size() - 604) / 19600;
  EXPECT_GE(kept, 4u);
  EXPECT_LT(kept, 10u);
  EXPECT_NE(run.err.find(std::to_string(10 - kept) + " of 10 frames were skipped"), std::string::npos)
      << run.err;
  // The whole frames are exactly those of the complete movie. The sound of
  // the last one may lie past the cut (the sound follows its picture in the
  // file); then its record repeats the sound read before, as at any end of
  // the sound stream, so only its picture bytes are compared.
  const Bytes whole = ExpectedTracks(o, 10, 0)[0];
  const std::size_t last_record = 604 + (kept - 1) * 19600;
  for (std::size_t k = 44; k < actual.size(); ++k) {
    if (k >= last_record && (k - last_record) % 10 == 9) continue;
    ASSERT_EQ(actual[k], whole[k]) << "byte " << k << " of record " << (k - 604) / 19600;
  }
}

}  // namespace
