// The library calls on movies made by our own writer.
#include "avi/avifile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "avi/avi_parser.h"
#include "avi/avi_test_support.h"
#include "tests/movie_writer.h"

namespace {

using avi_test::FramePixel;
using avi_test::HeaderOf;
using avi_test::OpenedMovie;
using avi_test::TempFile;
using avi_test::WrongPixels;
using test_movies::IndexDamage;
using test_movies::IndexKind;
using test_movies::MovieOptions;
using test_movies::OdmlDamage;
using test_movies::PixelLayout;

constexpr LONG kSamplesPerFrame = 980;

// Whether `got` begins with the bytes of `want`.
bool StartsWith(const std::vector<std::uint8_t>& got, const std::vector<std::uint8_t>& want) {
  return got.size() >= want.size() && std::equal(want.begin(), want.end(), got.begin());
}
constexpr LONG kSoundBlock = 1960;

struct MovieCase {
  const char* name;
  MovieOptions options;
  PixelLayout expected_layout_out;  // which layout the frames come back in
};

MovieOptions With(void (*edit)(MovieOptions&)) {
  MovieOptions o;
  o.frames = 6;
  edit(o);
  return o;
}

const MovieCase kMovies[] = {
    {"BottomUp", With([](MovieOptions&) {}), PixelLayout::kBottomUp24},
    {"TopDown", With([](MovieOptions& o) { o.layout = PixelLayout::kTopDown24; }), PixelLayout::kBottomUp24},
    {"OddWidthTopDown", With([](MovieOptions& o) { o.layout = PixelLayout::kTopDown24; o.width = 37; o.height = 11; }), PixelLayout::kBottomUp24},
    {"RecLists", With([](MovieOptions& o) { o.rec_lists = true; }), PixelLayout::kBottomUp24},
    {"RecListsNoIndex", With([](MovieOptions& o) { o.rec_lists = true; o.index = IndexKind::kNone; }), PixelLayout::kBottomUp24},
    {"NoIndex", With([](MovieOptions& o) { o.index = IndexKind::kNone; }), PixelLayout::kBottomUp24},
    {"Idx1Absolute", With([](MovieOptions& o) { o.index = IndexKind::kIdx1Absolute; }), PixelLayout::kBottomUp24},
    {"Idx1AbsoluteRecLists", With([](MovieOptions& o) { o.index = IndexKind::kIdx1Absolute; o.rec_lists = true; }), PixelLayout::kBottomUp24},
    {"DropFrames", With([](MovieOptions& o) { o.drop_frames = {2, 3, 5}; }), PixelLayout::kBottomUp24},
    {"DroppedFirstFrame", With([](MovieOptions& o) { o.drop_frames = {0, 1}; o.index = IndexKind::kNone; }), PixelLayout::kBottomUp24},
    {"OddChunks", With([](MovieOptions& o) { o.odd_chunks = true; o.sound.channels = 1; o.sound.chunk_samples = {333, 7, 641}; }), PixelLayout::kBottomUp24},
    {"OddChunksRecListsAbsolute", With([](MovieOptions& o) { o.odd_chunks = true; o.rec_lists = true; o.index = IndexKind::kIdx1Absolute; o.sound.channels = 1; o.sound.chunk_samples = {1, 999}; }), PixelLayout::kBottomUp24},
    {"DamagedIndexOffsets", With([](MovieOptions& o) { o.index_damage = IndexDamage::kWrongOffsets; }), PixelLayout::kBottomUp24},
    {"DamagedIndexCount", With([](MovieOptions& o) { o.index_damage = IndexDamage::kHugeCount; }), PixelLayout::kBottomUp24},
    {"VaryingSoundChunks", With([](MovieOptions& o) { o.sound.chunk_samples = {333, 0, 7, 1500}; }), PixelLayout::kBottomUp24},
    {"Sound16BitZeroSampleSize", With([](MovieOptions& o) { o.sound.bits = 16; o.sound.zero_sample_size = true; }), PixelLayout::kBottomUp24},
    {"OpenDmlParts", With([](MovieOptions& o) { o.odml_parts = 3; o.frames = 7; o.sound.chunk_samples = {333, 7, 641}; }), PixelLayout::kBottomUp24},
    {"OpenDmlNoIdx1RecListsTopDown", With([](MovieOptions& o) { o.odml_parts = 2; o.index = IndexKind::kNone; o.rec_lists = true; o.layout = PixelLayout::kTopDown24; }), PixelLayout::kBottomUp24},
    {"OpenDmlSuperIndexLoop", With([](MovieOptions& o) { o.odml_parts = 3; o.odml_damage = OdmlDamage::kSelfLoop; }), PixelLayout::kBottomUp24},
    {"OpenDmlDamagedOffsets", With([](MovieOptions& o) { o.odml_parts = 2; o.odml_damage = OdmlDamage::kWrongOffsets; o.drop_frames = {4}; }), PixelLayout::kBottomUp24},
    {"Palette8", With([](MovieOptions& o) { o.layout = PixelLayout::kPalette8; }), PixelLayout::kPalette8},
    {"Rgb555", With([](MovieOptions& o) { o.layout = PixelLayout::kRgb555; o.width = 33; }), PixelLayout::kRgb555},
    {"Rgb565", With([](MovieOptions& o) { o.layout = PixelLayout::kRgb565; }), PixelLayout::kRgb565},
    {"Rgb32", With([](MovieOptions& o) { o.layout = PixelLayout::kRgb32; }), PixelLayout::kRgb32},
};

class WrittenMovieTest : public ::testing::TestWithParam<MovieCase> {};

TEST_P(WrittenMovieTest, EveryFrameAndAllSoundComeBackAsWritten) {
  const MovieOptions& o = GetParam().options;
  TempFile file("movie.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  ASSERT_NE(m.video, nullptr);
  ASSERT_NE(m.audio, nullptr);
  ASSERT_EQ(AVIStreamLength(m.video), o.frames);

  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr) << AviStreamGetFrameProblem(m.video);
  for (int f = 0; f < o.frames; ++f) {
    const void* frame = AVIStreamGetFrame(g, f);
    if (test_movies::ShownFrame(o, f) < 0) {
      EXPECT_EQ(frame, nullptr) << "frame " << f;
      continue;
    }
    ASSERT_NE(frame, nullptr) << "frame " << f;
    const BITMAPINFOHEADER& h = HeaderOf(frame);
    EXPECT_EQ(h.biWidth, o.width);
    EXPECT_EQ(h.biHeight, o.height);  // always bottom-up
    EXPECT_EQ(h.biSize, 40u);
    if (GetParam().expected_layout_out == PixelLayout::kBottomUp24) {
      EXPECT_EQ(h.biBitCount, 24);
      EXPECT_EQ(h.biCompression, BI_RGB);
      EXPECT_EQ(h.biSizeImage, static_cast<DWORD>((o.width * 3 + 3) / 4 * 4 * o.height));
    }
    EXPECT_EQ(WrongPixels(frame, o, f), 0) << "frame " << f;
  }
  EXPECT_EQ(AVIStreamGetFrame(g, o.frames), nullptr);
  EXPECT_EQ(AVIStreamGetFrame(g, -1), nullptr);
  // Going back after the end still works (drop frames included).
  if (test_movies::ShownFrame(o, 1) >= 0) {
    const void* again = AVIStreamGetFrame(g, 1);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(WrongPixels(again, o, 1), 0);
  }
  EXPECT_EQ(AVIStreamGetFrameClose(g), AVIERR_OK);

  // Sound as the movie source fetches it, 980 samples a frame.
  const int align = test_movies::SoundBlockAlign(o);
  std::vector<std::uint8_t> block(kSoundBlock);
  for (int f = 0; f < o.frames; ++f) {
    LONG bytes = -1, samples = -1;
    ASSERT_EQ(AVIStreamRead(m.audio, f * kSamplesPerFrame, kSamplesPerFrame, block.data(),
                            kSoundBlock, &bytes, &samples), AVIERR_OK);
    const LONG fit = std::min<LONG>(kSamplesPerFrame, kSoundBlock / align);
    auto want = test_movies::ExpectedSound(o, static_cast<std::uint64_t>(f) * kSamplesPerFrame, fit);
    ASSERT_EQ(bytes, static_cast<LONG>(want.size())) << "frame " << f;
    EXPECT_EQ(samples, bytes / align);
    EXPECT_TRUE(StartsWith(block, want)) << "frame " << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, WrittenMovieTest, ::testing::ValuesIn(kMovies),
                         [](const auto& info) { return std::string(info.param.name); });

// The data-chunk positions of a whole written movie, found by the parser.
avi::Movie ParseBytes(const std::vector<std::uint8_t>& bytes, avi::ParseResult* result = nullptr) {
  TempFile file("parse.avi");
  EXPECT_TRUE(file.Write(bytes));
  avi::FileReader reader;
  EXPECT_TRUE(reader.Open(file.path()));
  avi::Movie movie;
  avi::ParseResult r = avi::ParseAvi(reader, &movie);
  if (result) *result = r;
  return movie;
}

TEST(WrittenMovieIndexTest, ChoosesTheIndexItCanTrust) {
  struct Row {
    IndexKind kind;
    IndexDamage damage;
    bool truncate;
    avi::IndexSource expected;
    int odml_parts = 0;
    OdmlDamage odml_damage = OdmlDamage::kNone;
  } rows[] = {
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kOpenDml, 1},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kOpenDml, 3},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kScan, 3, OdmlDamage::kSelfLoop},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kIdx1Relative, 1, OdmlDamage::kWrongOffsets},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kScan, 2, OdmlDamage::kWrongOffsets},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, false, avi::IndexSource::kIdx1Relative},
      {IndexKind::kIdx1Absolute, IndexDamage::kNone, false, avi::IndexSource::kIdx1Absolute},
      {IndexKind::kNone, IndexDamage::kNone, false, avi::IndexSource::kScan},
      {IndexKind::kIdx1Relative, IndexDamage::kWrongOffsets, false, avi::IndexSource::kScan},
      // A count past the file's end is cut to the entries that are there.
      {IndexKind::kIdx1Absolute, IndexDamage::kHugeCount, false, avi::IndexSource::kIdx1Absolute},
      {IndexKind::kIdx1Relative, IndexDamage::kNone, true, avi::IndexSource::kScan},
  };
  for (const Row& row : rows) {
    MovieOptions o;
    o.frames = 4;
    o.index = row.kind;
    o.index_damage = row.damage;
    o.odml_parts = row.odml_parts;
    o.odml_damage = row.odml_damage;
    auto bytes = test_movies::WriteMovie(o);
    if (row.truncate) bytes.resize(bytes.size() - 20);  // into idx1
    avi::Movie m = ParseBytes(bytes);
    EXPECT_EQ(static_cast<int>(m.index_source), static_cast<int>(row.expected))
        << static_cast<int>(row.kind) << "/" << static_cast<int>(row.damage) << "/"
        << row.odml_parts << "/" << static_cast<int>(row.odml_damage);
    ASSERT_EQ(m.streams.size(), 2u);
    EXPECT_EQ(m.streams[0].index.chunks.size(), 4u);
  }
}

// A movie cut inside frame k's picture keeps frames 0..k-1 and the sound
// written before the cut.
struct CutCase {
  int k;  // the frame cut in two
  bool rec_lists;
  int odml_parts;
};

class TruncatedMovieTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(TruncatedMovieTest, KeepsEveryWholeFrame) {
  const int k = GetParam().k;
  MovieOptions o;
  o.frames = 7;
  o.rec_lists = GetParam().rec_lists;
  o.odml_parts = GetParam().odml_parts;
  const auto whole = test_movies::WriteMovie(o);
  const avi::Movie parsed = ParseBytes(whole);
  const avi::ChunkEntry cut_chunk = parsed.streams[0].index.chunks[static_cast<std::size_t>(k)];
  o.truncate_at = cut_chunk.offset + cut_chunk.size / 2;
  std::uint64_t sound_bytes_before = 0;
  for (const avi::ChunkEntry& c : parsed.streams[1].index.chunks)
    if (c.offset < *o.truncate_at) sound_bytes_before += c.size;

  TempFile file("cut.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr);
  for (int f = 0; f < k; ++f) {
    const void* frame = AVIStreamGetFrame(g, f);
    ASSERT_NE(frame, nullptr) << f;
    EXPECT_EQ(WrongPixels(frame, o, f), 0) << f;
  }
  EXPECT_EQ(AVIStreamGetFrame(g, k), nullptr);
  AVIStreamGetFrameClose(g);

  // All the sound before the cut, then nothing (and no error).
  std::vector<std::uint8_t> all(sound_bytes_before + 100);
  LONG bytes = -1;
  ASSERT_EQ(AVIStreamRead(m.audio, 0, 1 << 20, all.data(), static_cast<LONG>(all.size()), &bytes, nullptr), AVIERR_OK);
  EXPECT_EQ(static_cast<std::uint64_t>(bytes), sound_bytes_before);
  auto want = test_movies::ExpectedSound(o, 0, sound_bytes_before / 2);
  EXPECT_TRUE(StartsWith(all, want));
  LONG past = -1;
  EXPECT_EQ(AVIStreamRead(m.audio, static_cast<LONG>(sound_bytes_before / 2), 980, all.data(), 1960, &past, nullptr), AVIERR_OK);
  EXPECT_EQ(past, 0);
}

INSTANTIATE_TEST_SUITE_P(CutPoints, TruncatedMovieTest,
                         ::testing::Values(CutCase{0, false, 0}, CutCase{1, true, 0},
                                           CutCase{3, false, 0}, CutCase{6, true, 0},
                                           CutCase{2, false, 3}, CutCase{5, true, 3}));

// AVIStreamRead's rules, on a stream of 2,500 two-byte samples in chunks of
// 333, 7, 0 and 1,000 samples (round and round).
struct ReadCase {
  const char* name;
  int bits;  // 8: two-byte samples; 16: four-byte samples
  LONG start, count, buffer_size;
  bool null_buffer;
  HRESULT status;
  LONG bytes, samples;
};

const ReadCase kReads[] = {
    {"Inside", 8, 0, 980, 1960, false, AVIERR_OK, 1960, 980},
    {"AcrossChunks", 8, 330, 20, 1960, false, AVIERR_OK, 40, 20},
    {"AcrossEmptyChunk", 8, 335, 990, 1980, false, AVIERR_OK, 1980, 990},
    {"NearTheEnd", 8, 1960, 980, 1960, false, AVIERR_OK, 1080, 540},
    {"LastSample", 8, 2499, 980, 1960, false, AVIERR_OK, 2, 1},
    {"AtTheEnd", 8, 2500, 980, 1960, false, AVIERR_OK, 0, 0},
    {"PastTheEnd", 8, 9000, 980, 1960, false, AVIERR_OK, 0, 0},
    {"BufferLimits", 8, 10, 980, 101, false, AVIERR_OK, 100, 50},
    {"BufferBelowOneSample", 8, 0, 980, 1, false, AVIERR_BUFFERTOOSMALL, 0, 0},
    {"WideSamplesFillTheBuffer", 16, 0, 980, 1960, false, AVIERR_OK, 1960, 490},
    {"WideSamplesNearTheEnd", 16, 2300, 980, 1960, false, AVIERR_OK, 800, 200},
    {"SizeOnly", 8, 100, 980, 0, true, AVIERR_OK, 1960, 980},
    {"ZeroCount", 8, 0, 0, 1960, false, AVIERR_OK, 0, 0},
    {"NegativeStart", 8, -1, 980, 1960, false, AVIERR_BADPARAM, 0, 0},
};

class SoundReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SoundReadTest, FollowsTheRules) {
  const ReadCase& c = GetParam();
  MovieOptions o;
  o.frames = 3;
  o.sound.bits = c.bits;
  o.sound.total_samples = 2500;
  o.sound.chunk_samples = {333, 7, 0, 1000};
  TempFile file("sound.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK);
  std::vector<std::uint8_t> buffer(4096, 0xEE);
  LONG bytes = -1, samples = -1;
  HRESULT s = AVIStreamRead(m.audio, c.start, c.count, c.null_buffer ? nullptr : buffer.data(),
                            c.buffer_size, &bytes, &samples);
  EXPECT_EQ(s, c.status);
  EXPECT_EQ(bytes, c.bytes);
  EXPECT_EQ(samples, c.samples);
  if (!c.null_buffer && c.bytes > 0) {
    auto want = test_movies::ExpectedSound(o, static_cast<std::uint64_t>(c.start), c.samples);
    EXPECT_TRUE(StartsWith(buffer, want));
  }
  EXPECT_EQ(buffer[static_cast<std::size_t>(std::max<LONG>(c.null_buffer ? 0 : c.bytes, 0))], 0xEE)
      << "wrote past what it reported";
  // Counts are optional.
  EXPECT_EQ(AVIStreamRead(m.audio, c.start, c.count, c.null_buffer ? nullptr : buffer.data(),
                          c.buffer_size, nullptr, nullptr), c.status);
}

INSTANTIATE_TEST_SUITE_P(Table, SoundReadTest, ::testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SoundReadOrderTest, RandomPositionsReadTheSameAsInOrder) {
  MovieOptions o;
  o.frames = 5;
  o.sound.chunk_samples = {333, 7, 1, 0, 2000};
  TempFile file("random.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK);
  std::mt19937 rng(7);
  std::vector<std::uint8_t> buffer(1960);
  const LONG total = 5 * 980;
  for (int i = 0; i < 300; ++i) {
    LONG start = static_cast<LONG>(rng() % (total + 10));
    LONG count = static_cast<LONG>(rng() % 990);
    LONG bytes = -1;
    ASSERT_EQ(AVIStreamRead(m.audio, start, count, buffer.data(), 1960, &bytes, nullptr), AVIERR_OK);
    auto want = test_movies::ExpectedSound(o, static_cast<std::uint64_t>(start), std::min<LONG>(count, 980));
    ASSERT_EQ(bytes, static_cast<LONG>(want.size())) << start << "+" << count;
    ASSERT_TRUE(StartsWith(buffer, want)) << start << "+" << count;
  }
}

TEST(ReadFormatTest, CopiesThePrefixAndZeroFillsTheRest) {
  MovieOptions o;
  o.frames = 1;
  TempFile file("format.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK);

  LONG size = 0;
  ASSERT_EQ(AVIStreamReadFormat(m.audio, 0, nullptr, &size), AVIERR_OK);
  EXPECT_EQ(size, 16);

  std::uint8_t big[40];
  std::memset(big, 0xEE, sizeof big);
  size = sizeof big;
  ASSERT_EQ(AVIStreamReadFormat(m.audio, AVIStreamStart(m.audio), big, &size), AVIERR_OK);
  PCMWAVEFORMAT wf;
  std::memcpy(&wf, big, sizeof wf);
  EXPECT_EQ(wf.wf.wFormatTag, 1);
  EXPECT_EQ(wf.wf.nChannels, 2);
  EXPECT_EQ(wf.wf.nSamplesPerSec, 8820u);
  EXPECT_EQ(wf.wf.nBlockAlign, 2);
  EXPECT_EQ(wf.wBitsPerSample, 8);
  for (int i = 16; i < 40; ++i) EXPECT_EQ(big[i], 0) << i;

  BITMAPINFOHEADER bih;
  size = sizeof bih;
  ASSERT_EQ(AVIStreamReadFormat(m.video, 0, &bih, &size), AVIERR_OK);
  EXPECT_EQ(bih.biWidth, 432);
  EXPECT_EQ(bih.biHeight, 160);
  EXPECT_EQ(bih.biBitCount, 24);

  std::uint8_t small[6];
  size = sizeof small;
  ASSERT_EQ(AVIStreamReadFormat(m.video, 0, small, &size), AVIERR_OK);
  EXPECT_EQ(size, 6);
}

TEST(FileInfoTest, RateAndScaleAreThoseOfThePictureStream) {
  struct Row { std::uint32_t rate, scale; } rows[] = {{9, 1}, {30000, 1001}, {25, 1}};
  for (const Row& row : rows) {
    MovieOptions o;
    o.frames = 2;
    o.rate = row.rate;
    o.scale = row.scale;
    TempFile file("info.avi");
    ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
    OpenedMovie m(file.path());
    ASSERT_EQ(m.status, AVIERR_OK);
    AVIFILEINFOA info;
    std::memset(&info, 0xEE, sizeof info);
    ASSERT_EQ(AVIFileInfoA(m.file, &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.dwRate, row.rate);
    EXPECT_EQ(info.dwScale, row.scale);
    EXPECT_EQ(info.dwStreams, 2u);
    EXPECT_EQ(info.dwWidth, 432u);
    EXPECT_EQ(info.dwHeight, 160u);
    EXPECT_EQ(info.dwLength, 2u);
    EXPECT_STREQ(info.szFileType, "AVI");
    // A short buffer gets only its share.
    std::uint8_t part[12];
    std::memset(part, 0xEE, sizeof part);
    ASSERT_EQ(AVIFileInfoA(m.file, reinterpret_cast<AVIFILEINFOA*>(part), 8), AVIERR_OK);
    EXPECT_EQ(part[8], 0xEE);
  }
}

TEST(OpenTest, FailuresHaveDistinctCodesAndReasons) {
  std::vector<std::uint8_t> wave = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
  std::vector<std::uint8_t> text(100, 'x');
  std::vector<std::uint8_t> header_only = test_movies::WriteMovie(MovieOptions{});
  header_only.resize(30);
  struct Row {
    const char* name;
    const std::vector<std::uint8_t>* bytes;  // null: no such file
    HRESULT status;
  } rows[] = {
      {"missing", nullptr, AVIERR_FILEOPEN},
      {"wave", &wave, AVIERR_BADFORMAT},
      {"text", &text, AVIERR_BADFORMAT},
      {"cut in the headers", &header_only, AVIERR_BADFORMAT},
  };
  for (const Row& row : rows) {
    TempFile file("bad.avi");
    if (row.bytes) {
      ASSERT_TRUE(file.Write(*row.bytes));
    }
    PAVIFILE f = reinterpret_cast<PAVIFILE>(1);
    std::string why;
    EXPECT_EQ(AviFileOpenExplained(&f, file.path().c_str(), &why), row.status) << row.name;
    EXPECT_EQ(f, nullptr) << row.name;
    EXPECT_FALSE(why.empty()) << row.name;
    EXPECT_EQ(AVIFileOpenA(&f, file.path().c_str(), OF_READ, nullptr), row.status) << row.name;
  }
  PAVIFILE f = nullptr;
  EXPECT_EQ(AVIFileOpenA(&f, ::testing::TempDir().c_str(), OF_READ, nullptr), AVIERR_FILEOPEN);
}

TEST(HandleTest, StreamsAndGettersOutliveTheFileHandle) {
  MovieOptions o;
  o.frames = 3;
  TempFile file("handles.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  PAVIFILE f = nullptr;
  ASSERT_EQ(AVIFileOpenA(&f, file.path().c_str(), OF_READ, nullptr), AVIERR_OK);
  PAVISTREAM video = nullptr, audio = nullptr, none = reinterpret_cast<PAVISTREAM>(1);
  ASSERT_EQ(AVIFileGetStream(f, &video, streamtypeVIDEO, 0), AVIERR_OK);
  ASSERT_EQ(AVIFileGetStream(f, &audio, streamtypeAUDIO, 0), AVIERR_OK);
  EXPECT_NE(AVIFileGetStream(f, &none, streamtypeAUDIO, 1), AVIERR_OK);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(AVIFileRelease(f), 0u);

  PGETFRAME g = AVIStreamGetFrameOpen(video, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(AVIStreamRelease(video), 0u);
  const void* frame = AVIStreamGetFrame(g, 2);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(WrongPixels(frame, o, 2), 0);
  EXPECT_EQ(AVIStreamGetFrameClose(g), AVIERR_OK);

  std::vector<std::uint8_t> block(1960);
  EXPECT_EQ(AVIStreamRead(audio, 980, 980, block.data(), 1960, nullptr, nullptr), AVIERR_OK);
  auto want = test_movies::ExpectedSound(o, 980, 980);
  EXPECT_TRUE(StartsWith(block, want));
  EXPECT_EQ(AVIStreamRelease(audio), 0u);
}

TEST(GetFrameOpenTest, RefusesWhatItCannotServeAndSaysWhy) {
  MovieOptions o;
  o.frames = 1;
  TempFile file("refuse.avi");
  ASSERT_TRUE(file.Write(test_movies::WriteMovie(o)));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK);
  EXPECT_EQ(AVIStreamGetFrameOpen(m.audio, nullptr), nullptr);
  EXPECT_STRNE(AviStreamGetFrameProblem(m.audio), "");
  BITMAPINFOHEADER wanted{};
  wanted.biSize = 40;
  EXPECT_EQ(AVIStreamGetFrameOpen(m.video, &wanted), nullptr);
  EXPECT_STRNE(AviStreamGetFrameProblem(m.video), "");
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_STREQ(AviStreamGetFrameProblem(m.video), "");
  AVIStreamGetFrameClose(g);
}

TEST(GetFrameTest, ShortPictureChunkIsRefusedNotReadPast) {
  // Frame 1's chunk claims fewer bytes than a picture: patch its size in
  // the chunk header and in idx1 so that the index still checks out.
  MovieOptions o;
  o.frames = 3;
  o.with_sound = false;
  o.width = 8;
  o.height = 4;  // 96 bytes a picture
  auto bytes = test_movies::WriteMovie(o);
  const avi::Movie parsed = ParseBytes(bytes);
  const avi::ChunkEntry c = parsed.streams[0].index.chunks[1];
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  put32(c.offset - 4, 40);
  // Where the next chunk starts, a JUNK chunk now covers the rest.
  put32(c.offset + 40, avi::FourCc('J', 'U', 'N', 'K'));
  put32(c.offset + 44, 96 - 48);
  for (std::size_t at = 0; at + 16 <= bytes.size(); ++at) {
    std::uint32_t v;
    std::memcpy(&v, &bytes[at], 4);
    if (v == avi::FourCc('i', 'd', 'x', '1')) {
      put32(at + 8 + 16 + 12, 40);  // the second entry's size
      break;
    }
  }
  TempFile file("short.avi");
  ASSERT_TRUE(file.Write(bytes));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr);
  ASSERT_NE(AVIStreamGetFrame(g, 0), nullptr);
  EXPECT_EQ(AVIStreamGetFrame(g, 1), nullptr);
  const void* f2 = AVIStreamGetFrame(g, 2);
  ASSERT_NE(f2, nullptr);
  EXPECT_EQ(WrongPixels(f2, o, 2), 0);
  AVIStreamGetFrameClose(g);
}

TEST(StreamLengthTest, PlaceholderLengthIsCutToWhatTheFileCouldHold) {
  // Files written to a pipe keep placeholder sizes: RIFF and movi sizes of
  // 0xFFFFFFFF and a picture stream length of 2^30.
  MovieOptions o;
  o.frames = 3;
  o.index = IndexKind::kNone;
  auto bytes = test_movies::WriteMovie(o);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  put32(4, 0xFFFFFFFF);
  for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
    if (std::memcmp(&bytes[at], "strh", 4) == 0 && std::memcmp(&bytes[at + 8], "vids", 4) == 0)
      put32(at + 8 + 32, 1u << 30);
    if (std::memcmp(&bytes[at], "movi", 4) == 0) {
      put32(at - 4, 0xFFFFFFFF);
      break;
    }
  }
  TempFile file("placeholder.avi");
  ASSERT_TRUE(file.Write(bytes));
  OpenedMovie m(file.path());
  ASSERT_EQ(m.status, AVIERR_OK) << m.why;
  EXPECT_LE(AVIStreamLength(m.video), static_cast<LONG>(bytes.size() / 8));
  PGETFRAME g = AVIStreamGetFrameOpen(m.video, nullptr);
  ASSERT_NE(g, nullptr);
  for (int f = 0; f < 3; ++f) {
    const void* frame = AVIStreamGetFrame(g, f);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(WrongPixels(frame, o, f), 0);
  }
  EXPECT_EQ(AVIStreamGetFrame(g, 3), nullptr);
  AVIStreamGetFrameClose(g);
}

// Mangled movies: whatever the bytes, opening and reading stay inside the
// file and end. (Run under the sanitizers to catch what they would hide;
// KESTRIX_MANGLE_ROUNDS sets how many mangled copies each case tries.)
class MangledMovieTest : public ::testing::TestWithParam<int> {};

TEST_P(MangledMovieTest, RandomDamageIsSurvived) {
  MovieOptions o;
  o.frames = 4;
  o.width = 16;
  o.height = 8;
  o.rec_lists = true;
  o.odd_chunks = true;
  o.odml_parts = GetParam();
  o.sound.chunk_samples = {300, 0, 1000};
  const auto clean = test_movies::WriteMovie(o);
  const char* env = std::getenv("KESTRIX_MANGLE_ROUNDS");
  const int rounds = env ? std::atoi(env) : 300;
  std::mt19937 rng(12345 + GetParam());
  TempFile file("mangled.avi");
  for (int round = 0; round < rounds; ++round) {
    auto bytes = clean;
    const int hits = 1 + static_cast<int>(rng() % 8);
    for (int h = 0; h < hits; ++h) {
      std::size_t at = rng() % bytes.size();
      switch (rng() % 4) {
        case 0: bytes[at] = static_cast<std::uint8_t>(rng()); break;
        case 1: bytes[at] = 0xFF; break;
        case 2: bytes[at] = 0; break;
        case 3: bytes[at] = static_cast<std::uint8_t>(bytes[at] + 1); break;
      }
    }
    if (rng() % 4 == 0) bytes.resize(rng() % bytes.size());
    ASSERT_TRUE(file.Write(bytes));
    OpenedMovie m(file.path());
    if (m.status != AVIERR_OK) continue;
    AVIFILEINFOA info;
    AVIFileInfoA(m.file, &info, sizeof info);
    PGETFRAME g = m.video ? AVIStreamGetFrameOpen(m.video, nullptr) : nullptr;
    if (g) {
      for (int f = -1; f < 6; ++f) AVIStreamGetFrame(g, f);
      AVIStreamGetFrameClose(g);
    }
    if (m.audio) {
      std::vector<std::uint8_t> block(1960);
      for (int f = 0; f < 6; ++f) AVIStreamRead(m.audio, f * 980, 980, block.data(), 1960, nullptr, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PlainAndOpenDml, MangledMovieTest, ::testing::Values(0, 2));

}  // namespace
