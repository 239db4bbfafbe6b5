// The parser on hand-built structures that our writer does not make.
#include "avi/avi_parser.h"

#include <gtest/gtest.h>

#include <cstring>

#include "avi/avi_test_support.h"
#include "tests/movie_writer.h"

namespace {

using avi_test::TempFile;

TEST(DataChunkStreamTest, MapsDataIdsToStreamNumbers) {
  struct Row { const char* id; int stream; } rows[] = {
      {"00dc", 0}, {"00db", 0}, {"01wb", 1}, {"42dc", 42}, {"99wb", 99},
      {"00pc", -1}, {"ix00", -1}, {"JUNK", -1}, {"0xdc", -1}, {"00tx", -1}, {"rec ", -1},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(avi::DataChunkStream(avi::FourCc(r.id[0], r.id[1], r.id[2], r.id[3])), r.stream) << r.id;
  }
}

// Appends little-endian values.
struct Builder {
  std::vector<std::uint8_t> b;
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Id(const char* s) { U32(avi::FourCc(s[0], s[1], s[2], s[3])); }
  void Patch(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

avi::ParseResult Parse(const std::vector<std::uint8_t>& bytes, avi::Movie* movie) {
  TempFile file("hand.avi");
  EXPECT_TRUE(file.Write(bytes));
  avi::FileReader reader;
  EXPECT_TRUE(reader.Open(file.path()));
  return avi::ParseAvi(reader, movie);
}

// A writer movie with its movi list's first data replaced by `inner`.
std::vector<std::uint8_t> WithMoviPrefix(const std::vector<std::uint8_t>& inner) {
  test_movies::MovieOptions o;
  o.frames = 2;
  o.with_sound = false;
  o.width = 4;
  o.height = 2;
  o.index = test_movies::IndexKind::kNone;
  auto bytes = test_movies::WriteMovie(o);
  // Find "movi" and put `inner` just after it; then fix the list sizes.
  for (std::size_t at = 0; at + 4 <= bytes.size(); ++at) {
    if (std::equal(bytes.begin() + at, bytes.begin() + at + 4, "movi")) {
      bytes.insert(bytes.begin() + at + 4, inner.begin(), inner.end());
      auto add = [&](std::size_t size_at) {
        std::uint32_t v;
        std::memcpy(&v, &bytes[size_at], 4);
        v += static_cast<std::uint32_t>(inner.size());
        std::memcpy(&bytes[size_at], &v, 4);
      };
      add(at - 4);  // LIST movi
      add(4);       // RIFF
      break;
    }
  }
  return bytes;
}

TEST(ParserTest, DeeplyNestedListsEndWithoutRunningOutOfStack) {
  // 20,000 nested LIST 'rec ' chunks, each one holding the next.
  constexpr int kDepth = 20000;
  Builder inner;
  for (int i = 0; i < kDepth; ++i) {
    inner.Id("LIST");
    inner.U32(static_cast<std::uint32_t>((kDepth - i) * 12 - 8));
    inner.Id("rec ");
  }
  avi::Movie movie;
  ASSERT_TRUE(Parse(WithMoviPrefix(inner.b), &movie).ok());
  EXPECT_EQ(movie.index_source, avi::IndexSource::kScan);
  EXPECT_EQ(movie.streams[0].index.chunks.size(), 2u);  // the frames after them
}

TEST(ParserTest, ZeroSizedAndOddChunksAreSteppedOver) {
  Builder inner;
  inner.Id("JUNK"), inner.U32(0);
  inner.Id("abcd"), inner.U32(1), inner.b.push_back(7), inner.b.push_back(0);  // pad byte
  inner.Id("00pc"), inner.U32(4), inner.U32(0);  // a palette change: not a frame
  inner.Id("00dc"), inner.U32(0);                // an empty (drop) frame
  avi::Movie movie;
  ASSERT_TRUE(Parse(WithMoviPrefix(inner.b), &movie).ok());
  ASSERT_EQ(movie.streams[0].index.chunks.size(), 3u);
  EXPECT_EQ(movie.streams[0].index.chunks[0].size, 0u);
  EXPECT_EQ(movie.streams[0].index.chunks[1].size, 24u);
}

TEST(ParserTest, HeaderSizesBeyondTheFileAreNotTrusted) {
  // avih claiming 4 GB: the header list is cut, so no main header is found.
  Builder b;
  b.Id("RIFF"), b.U32(0xFFFFFFF0), b.Id("AVI ");
  b.Id("LIST"), b.U32(0xFFFFFFE0), b.Id("hdrl");
  b.Id("avih"), b.U32(0xFFFFFFD0);
  for (int i = 0; i < 14; ++i) b.U32(1);
  avi::Movie movie;
  avi::ParseResult r = Parse(b.b, &movie);
  EXPECT_EQ(r.status, avi::ParseStatus::kNoHeaders);
  EXPECT_FALSE(r.why.empty());
}

// A super index whose 64 entries point at 64 standard indexes laid one inside
// the other, 32 bytes apart, each running to the end of the file: every one
// is valid on its own, and reading them all would read the same bytes 64
// times. The reading stays within the file's length, the OpenDML index is
// given up and the scan finds every frame.
TEST(ParserTest, NestedStandardIndexesAreNotReadOverAndOver) {
  constexpr int kEntries = 64;
  test_movies::MovieOptions o;
  o.width = 4;
  o.height = 2;
  o.frames = kEntries;
  o.odml_parts = kEntries;
  o.index = test_movies::IndexKind::kNone;
  Builder b;
  b.b = test_movies::WriteMovie(o);
  const std::size_t region = b.b.size();
  const std::size_t region_end = region + kEntries * 32 + (256 << 10);
  for (int k = 0; k < kEntries; ++k) {
    const std::size_t at = region + 32 * static_cast<std::size_t>(k);
    b.Id("ix00"), b.U32(static_cast<std::uint32_t>(region_end - at - 8));
    b.U32(2 | 0x01000000);  // two longs an entry, an index of chunks
    b.U32(0);               // no entry in use
    b.Id("00dc"), b.U32(0), b.U32(0), b.U32(0);
  }
  b.b.resize(region_end, 0);
  // Stream 0's super index is the first indx chunk in the file.
  std::size_t indx = 0;
  while (std::memcmp(&b.b[indx], "indx", 4) != 0) ++indx;
  for (int k = 0; k < kEntries; ++k) {
    const std::size_t entry = indx + 8 + 24 + 16 * static_cast<std::size_t>(k);
    b.Patch(entry, static_cast<std::uint32_t>(region + 32 * static_cast<std::size_t>(k)));
    b.Patch(entry + 4, 0);
  }

  TempFile file("nested.avi");
  ASSERT_TRUE(file.Write(b.b));
  avi::FileReader reader;
  ASSERT_TRUE(reader.Open(file.path()));
  avi::Movie movie;
  ASSERT_TRUE(avi::ParseAvi(reader, &movie).ok());
  EXPECT_LE(reader.bytes_read(), 2 * reader.size());
  EXPECT_EQ(movie.index_source, avi::IndexSource::kScan);
  EXPECT_EQ(movie.streams[0].index.chunks.size(), std::size_t{kEntries});
}

// 500,000 empty JUNK chunks (4 MB) ahead of the frames: the walk reads their
// headers a window at a time, not one read each.
TEST(ParserTest, StretchesOfTinyChunksCostFewReads) {
  constexpr int kChunks = 500000;
  Builder inner;
  for (int i = 0; i < kChunks; ++i) inner.Id("JUNK"), inner.U32(0);
  TempFile file("tiny.avi");
  ASSERT_TRUE(file.Write(WithMoviPrefix(inner.b)));
  avi::FileReader reader;
  ASSERT_TRUE(reader.Open(file.path()));
  avi::Movie movie;
  ASSERT_TRUE(avi::ParseAvi(reader, &movie).ok());
  EXPECT_EQ(movie.index_source, avi::IndexSource::kScan);
  EXPECT_EQ(movie.streams[0].index.chunks.size(), 2u);
  EXPECT_LT(reader.reads(), std::uint64_t{kChunks / 100});
}

}  // namespace
