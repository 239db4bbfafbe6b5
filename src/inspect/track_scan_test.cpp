#include "inspect/track_scan.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "inspect/test_tracks.h"
#include "inspect/track_set.h"

namespace inspect {
namespace {

using testing::Bytes;
using testing::kFirstRecord;
using track::kRecordBytes;

constexpr std::uint64_t F = kFirstRecord;  // 604
constexpr std::uint64_t R = kRecordBytes;  // 19,600

// Wraps sample data in a header whose sizes match.
Bytes WithHeader(const Bytes& data) {
  Bytes t = testing::TrackHeader(static_cast<std::uint32_t>(data.size()));
  t.insert(t.end(), data.begin(), data.end());
  return t;
}

// Lead-in silence and three records: the sample data of a three-frame track.
Bytes ThreeRecordData() {
  Bytes d(testing::kLeadInBytes, 0);
  Bytes r = testing::TestRecords(0, 3);
  d.insert(d.end(), r.begin(), r.end());
  return d;
}

void Flip(Bytes& b, std::uint64_t at) { b[at] ^= 0x5A; }

struct ExpectedRecord {
  std::uint64_t offset;
  unsigned damage = kDamageNone;
  std::uint32_t length = kRecordBytes;
};

struct ScanCase {
  const char* name;
  std::function<Bytes()> make;
  bool riff_found;
  std::uint64_t leading;
  bool leading_zero;
  std::vector<ExpectedRecord> records;
  std::vector<Gap> gaps = {};
  std::uint64_t trailing = 0;
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

const ScanCase kCases[] = {
    {"AsWritten", [] { return testing::TestTrack(3); }, true, 560, true,
     {{F}, {F + R}, {F + 2 * R}}},
    {"ThousandZeroBytesBeforeTheData",
     [] {
       Bytes d(1000, 0);
       Bytes rest = ThreeRecordData();
       d.insert(d.end(), rest.begin(), rest.end());
       return WithHeader(d);
     },
     true, 1560, true, {{F + 1000}, {F + 1000 + R}, {F + 1000 + 2 * R}}},
    {"ThousandZeroBytesBeforeTheFile",
     [] {
       Bytes d(1000, 0);
       Bytes t = testing::TestTrack(3);
       d.insert(d.end(), t.begin(), t.end());
       return d;
     },
     false, 1604, false, {{F + 1000}, {F + 1000 + R}, {F + 1000 + 2 * R}}},
    {"ThirtySevenBytesCutFromTheStart",
     [] {
       Bytes t = testing::TestTrack(3);
       return Bytes(t.begin() + 37, t.end());
     },
     false, F - 37, false, {{F - 37}, {F - 37 + R}, {F - 37 + 2 * R}}},
    {"RawSamplesWithoutHeader", [] { return ThreeRecordData(); }, false, 560, true,
     {{560}, {560 + R}, {560 + 2 * R}}},
    {"IndexGroupsDamaged",
     [] {
       Bytes t = testing::TestTrack(3);
       Flip(t, F + R + 24 * 10 + 3);
       Flip(t, F + R + 35 * 10 + 8);
       return t;
     },
     true, 560, true, {{F}, {F + R, kDamageIndex}, {F + 2 * R}}},
    {"LeadGroupsDamaged",
     [] {
       Bytes t = testing::TestTrack(3);
       Flip(t, F + R + 0);
       Flip(t, F + R + 5 * 10 + 4);
       return t;
     },
     true, 560, true, {{F}, {F + R, kDamageSync}, {F + 2 * R}}},
    {"FirstRecordsFirstLeadGroupsDamaged",
     [] {
       Bytes t = testing::TestTrack(3);
       for (int g = 0; g < 3; ++g) Flip(t, F + g * 10);
       return t;
     },
     true, 560, true, {{F, kDamageSync}, {F + R}, {F + 2 * R}}},
    {"WholeLeadWiped",
     [] {
       Bytes t = testing::TestTrack(3);
       for (int g = 0; g < 24; ++g) std::fill_n(t.begin() + F + R + g * 10, 9, 0);
       return t;
     },
     true, 560, true, {{F}, {F + R, kDamageSync}, {F + 2 * R}}},
    {"FillAndIndexDamaged",
     [] {
       Bytes t = testing::TestTrack(3);
       Flip(t, F + 2 * R + 37 * 10);
       Flip(t, F + 2 * R + 30 * 10);
       return t;
     },
     true, 560, true, {{F}, {F + R}, {F + 2 * R, kDamageFill | kDamageIndex}}},
    {"GapBetweenRecords",
     [] {
       Bytes d = ThreeRecordData();
       d.insert(d.begin() + 560 + 2 * R, 123, 0x55);
       return WithHeader(d);
     },
     true, 560, true, {{F}, {F + R}, {F + 2 * R + 123}}, {{F + 2 * R, 123}}},
    {"GapHoldingAStrayLeadBlock",
     [] {
       Bytes d = ThreeRecordData();
       Bytes junk(200, 0x11);
       std::copy(track::kLeadBlock.begin(), track::kLeadBlock.end(), junk.begin() + 50);
       d.insert(d.begin() + 560 + R, junk.begin(), junk.end());
       return WithHeader(d);
     },
     true, 560, true, {{F}, {F + R + 200}, {F + 2 * R + 200}}, {{F + R, 200}}},
    {"BytesDroppedInsideARecord",
     [] {
       Bytes d = ThreeRecordData();
       d.erase(d.begin() + 560 + R + 5000, d.begin() + 560 + R + 5050);
       return WithHeader(d);
     },
     true, 560, true, {{F}, {F + R, kDamageShort, R - 50}, {F + 2 * R - 50}}},
    {"LastRecordCutShort",
     [] {
       Bytes d = ThreeRecordData();
       d.resize(d.size() - 5000);
       return WithHeader(d);
     },
     true, 560, true, {{F}, {F + R}, {F + 2 * R, kDamageShort, R - 5000}}},
    {"SilenceAfterTheLastRecord",
     [] {
       Bytes d = ThreeRecordData();
       d.resize(d.size() + 2352, 0);
       return WithHeader(d);
     },
     true, 560, true, {{F}, {F + R}, {F + 2 * R}}, {}, 2352},
    {"NoRecordsAtAll", [] { return WithHeader(Bytes(50000, 0x80)); }, true, 50000, false, {}},
};

class ScanTrackTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTrackTest, FindsRecordsDamageAndGaps) {
  const ScanCase& c = GetParam();
  const Bytes bytes = c.make();
  // A small window makes records and searches straddle window edges.
  for (std::size_t block : {std::size_t{4096}, std::size_t{4} << 20}) {
    SCOPED_TRACE("block " + std::to_string(block));
    MemorySource source(bytes);
    BlockReader reader(source, block);
    TrackScan scan;
    ASSERT_TRUE(ScanTrack(reader, &scan).ok);
    EXPECT_EQ(scan.header.riff_found, c.riff_found);
    EXPECT_EQ(scan.leading_bytes, c.leading);
    EXPECT_EQ(scan.leading_all_zero, c.leading_zero);
    ASSERT_EQ(scan.records.size(), c.records.size());
    for (std::size_t i = 0; i < c.records.size(); ++i) {
      SCOPED_TRACE("record " + std::to_string(i));
      EXPECT_EQ(scan.records[i].offset, c.records[i].offset);
      EXPECT_EQ(scan.records[i].damage, c.records[i].damage);
      EXPECT_EQ(scan.records[i].length, c.records[i].length);
    }
    ASSERT_EQ(scan.gaps.size(), c.gaps.size());
    for (std::size_t i = 0; i < c.gaps.size(); ++i) {
      EXPECT_EQ(scan.gaps[i].offset, c.gaps[i].offset);
      EXPECT_EQ(scan.gaps[i].length, c.gaps[i].length);
    }
    EXPECT_EQ(scan.trailing_bytes, c.trailing);
    EXPECT_TRUE(scan.trailing_all_zero);
    const bool whole = !c.records.empty() && c.gaps.empty() &&
                       std::all_of(c.records.begin(), c.records.end(),
                                   [](const ExpectedRecord& r) { return r.damage == kDamageNone; });
    EXPECT_EQ(scan.all_whole(), whole);
  }
}

INSTANTIATE_TEST_SUITE_P(Tracks, ScanTrackTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScanTrack, CountsDamagedGroupsPerPart) {
  Bytes t = testing::TestTrack(1);
  for (int g : {0, 1, 23}) Flip(t, F + g * 10 + 2);
  for (int g : {24, 30}) Flip(t, F + g * 10);
  Flip(t, F + 39 * 10 + 8);
  Flip(t, F + 39 * 10 + 9);  // a sound byte: not a constant
  MemorySource source(t);
  BlockReader reader(source);
  TrackScan scan;
  ASSERT_TRUE(ScanTrack(reader, &scan).ok);
  ASSERT_EQ(scan.records.size(), 1u);
  EXPECT_EQ(scan.records[0].bad_lead, 3);
  EXPECT_EQ(scan.records[0].bad_index, 2);
  EXPECT_EQ(scan.records[0].bad_fill, 1);
  EXPECT_EQ(scan.damaged_count(), 1u);
}

// A picture may hold the lead block's bytes; back-to-back records must not
// be thrown off by it.
TEST(ScanTrack, LeadBlockInsideAPictureIsNotARecord) {
  track::PicturePayload p = testing::TestPayload(0);
  for (int i = 0; i < 30; ++i) std::copy(track::kLeadBlock.begin(), track::kLeadBlock.end(), p.begin() + 9 * (100 + i));
  track::RecordAssembler a;
  Bytes d(560, 0);
  for (int f = 0; f < 2; ++f) {
    const auto& r = a.Assemble(p, testing::TestSound(f));
    d.insert(d.end(), r.begin(), r.end());
  }
  // After a gap, the search must not settle on the copy either.
  d.insert(d.begin() + 560 + R, 77, 0x33);
  Bytes t = WithHeader(d);
  MemorySource source(t);
  BlockReader reader(source, 8192);
  TrackScan scan;
  ASSERT_TRUE(ScanTrack(reader, &scan).ok);
  ASSERT_EQ(scan.records.size(), 2u);
  EXPECT_EQ(scan.records[1].offset, F + R + 77);
  EXPECT_TRUE(scan.records[0].whole());
  EXPECT_TRUE(scan.records[1].whole());
}

struct HeaderCase {
  const char* name;
  std::size_t at;        // header byte to overwrite
  std::uint32_t value;
  int width;             // 2 or 4 bytes
  const char* problem;   // text the report must contain
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

const HeaderCase kHeaderCases[] = {
    {"RiffSize", 4, 1234, 4, "RIFF size is 1234"},
    {"NotPcm", 20, 3, 2, "format tag (1 is PCM) is 3"},
    {"Mono", 22, 1, 2, "channels is 1, not 2"},
    {"SampleRate", 24, 48000, 4, "sample rate is 48000, not 44100"},
    {"ByteRate", 28, 192000, 4, "bytes per second is 192000"},
    {"BlockAlign", 32, 2, 2, "block align is 2"},
    {"Bits", 34, 8, 2, "bits per sample is 8, not 16"},
    {"DataSize", 40, 100, 4, "data size is 100"},
};

class HeaderCheckTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderCheckTest, ReportsTheMismatchAndStillFindsTheRecords) {
  const HeaderCase& c = GetParam();
  Bytes t = testing::TestTrack(2);
  for (int i = 0; i < c.width; ++i) t[c.at + i] = static_cast<std::uint8_t>(c.value >> (8 * i));
  MemorySource source(t);
  BlockReader reader(source);
  TrackScan scan;
  ASSERT_TRUE(ScanTrack(reader, &scan).ok);
  ASSERT_EQ(scan.header.problems.size(), 1u);
  EXPECT_NE(scan.header.problems[0].find(c.problem), std::string::npos) << scan.header.problems[0];
  EXPECT_EQ(scan.records.size(), 2u);
  EXPECT_TRUE(scan.all_whole());
}

INSTANTIATE_TEST_SUITE_P(Fields, HeaderCheckTest, ::testing::ValuesIn(kHeaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckHeader, KestrixHeaderHasNoProblems) {
  Bytes t = testing::TestTrack(1);
  MemorySource source(t);
  BlockReader reader(source);
  HeaderCheck h;
  ASSERT_TRUE(CheckHeader(reader, &h).ok);
  EXPECT_TRUE(h.riff_found);
  EXPECT_TRUE(h.data_found);
  EXPECT_EQ(h.data_offset, 44u);
  EXPECT_TRUE(h.problems.empty());
}

// A ripper's header: an extra LIST chunk before the data, and a chunk size
// that runs past the file must not be trusted.
TEST(CheckHeader, SkipsOtherChunksAndSurvivesLyingSizes) {
  Bytes t = testing::TestTrack(1);
  const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  t.insert(t.begin() + 36, list.begin(), list.end());
  MemorySource source(t);
  BlockReader reader(source);
  TrackScan scan;
  ASSERT_TRUE(ScanTrack(reader, &scan).ok);
  EXPECT_EQ(scan.header.data_offset, 56u);
  ASSERT_EQ(scan.records.size(), 1u);
  EXPECT_EQ(scan.records[0].offset, F + 12);

  Bytes bad = testing::TestTrack(1);
  bad[16] = 0xFF, bad[17] = 0xFF, bad[18] = 0xFF, bad[19] = 0xFF;  // fmt size
  MemorySource bad_source(bad);
  BlockReader bad_reader(bad_source);
  ASSERT_TRUE(ScanTrack(bad_reader, &scan).ok);
  EXPECT_FALSE(scan.header.data_found);
  ASSERT_EQ(scan.records.size(), 1u);
  EXPECT_EQ(scan.records[0].offset, F);
}

TEST(CheckHeader, TinyFilesAreNotAnError) {
  for (std::size_t n : {0, 3, 11, 12, 30}) {
    Bytes t = testing::TestTrack(0);
    t.resize(n);
    MemorySource source(t);
    BlockReader reader(source);
    TrackScan scan;
    ASSERT_TRUE(ScanTrack(reader, &scan).ok) << n;
    EXPECT_TRUE(scan.records.empty());
    EXPECT_FALSE(scan.header.problems.empty());
  }
}

// Frames are numbered across tracks, and each record gives back the
// picture and sound that went in, whatever the track's offset.
TEST(TrackSet, NumbersFramesAcrossTracksAndReadsTheirContents) {
  Bytes a = testing::TestTrack(2);
  Bytes data(560 - 37, 0);
  Bytes r = testing::TestRecords(2, 3);
  data.insert(data.end(), r.begin(), r.end());
  Bytes b = WithHeader(data);
  Bytes empty = testing::TestTrack(0);
  std::vector<std::unique_ptr<ByteSource>> sources;
  sources.push_back(std::make_unique<MemorySource>(a, "a"));
  sources.push_back(std::make_unique<MemorySource>(empty, "empty"));
  sources.push_back(std::make_unique<MemorySource>(b, "b"));
  TrackSet set;
  ASSERT_TRUE(set.Open(std::move(sources)).ok);
  ASSERT_EQ(set.frame_count(), 5u);
  track::RecordBytes record;
  track::PicturePayload payload;
  track::SoundBlock sound;
  for (int f = 0; f < 5; ++f) {
    ASSERT_TRUE(set.ReadFrame(f, &record).ok);
    ExtractPayload(record, &payload);
    ExtractSound(record, &sound);
    EXPECT_EQ(payload, testing::TestPayload(f)) << f;
    EXPECT_EQ(sound, testing::TestSound(f)) << f;
  }
  EXPECT_FALSE(set.ReadFrame(5, &record).ok);
}

TEST(FileSource, NamesTheFileAndTheReason) {
  Status s;
  EXPECT_EQ(FileSource::Open("/nonexistent/x.wav", &s), nullptr);
  EXPECT_EQ(s.message, "cannot read '/nonexistent/x.wav': No such file or directory");
  EXPECT_EQ(FileSource::Open("/", &s), nullptr);
  EXPECT_EQ(s.message, "cannot read '/': Is a directory");
}

}  // namespace
}  // namespace inspect

namespace inspect {
namespace {

// Randomly damaged tracks: whatever the bytes, the records come out in
// order without overlapping, inside the file, and the window size used to
// read the track does not change the result.
TEST(ScanTrack, RandomDamageKeepsTheInvariants) {
  std::uint32_t x = 12345;
  auto next = [&] {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
  };
  for (int round = 0; round < 40; ++round) {
    Bytes t = testing::TestTrack(6);
    for (int edit = 0; edit < 12; ++edit) {
      const std::size_t at = next() % t.size();
      switch (next() % 4) {
        case 0: t[at] ^= static_cast<std::uint8_t>(next()); break;
        case 1: t.erase(t.begin() + at, t.begin() + std::min(t.size(), at + next() % 300)); break;
        case 2: t.insert(t.begin() + at, next() % 300, static_cast<std::uint8_t>(next())); break;
        case 3: {  // a copy of the constant groups, as a stray record start
          Bytes lead(t.begin() + F, t.begin() + F + 400);
          t.insert(t.begin() + at, lead.begin(), lead.end());
          break;
        }
      }
      if (t.empty()) t.push_back(0);
    }
    TrackScan small, large;
    MemorySource source(t);
    BlockReader small_reader(source, 1024), large_reader(source);
    ASSERT_TRUE(ScanTrack(small_reader, &small).ok);
    ASSERT_TRUE(ScanTrack(large_reader, &large).ok);
    ASSERT_EQ(small.records.size(), large.records.size()) << round;
    for (std::size_t i = 0; i < small.records.size(); ++i) {
      const RecordInfo& r = small.records[i];
      EXPECT_EQ(r.offset, large.records[i].offset);
      EXPECT_EQ(r.damage, large.records[i].damage);
      EXPECT_LE(r.offset + r.length, t.size());
      if (i + 1 < small.records.size()) {
        EXPECT_LE(r.offset + r.length, small.records[i + 1].offset);
      }
    }
    EXPECT_EQ(small.gaps.size(), large.gaps.size());
  }
}

}  // namespace
}  // namespace inspect
