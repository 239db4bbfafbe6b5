// Scattered reads: the bytes land in the pieces in turn, whatever their
// number and sizes, and nothing is read past the end of the file.
#include "avi/file_reader.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "avi/avi_test_support.h"

namespace {

std::vector<std::uint8_t> Counting(std::size_t n) {
  std::vector<std::uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return b;
}

struct PiecesCase {
  const char* name;
  std::vector<std::size_t> sizes;  // the pieces, in order
  std::uint64_t offset;
};

class ReadPiecesTest : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(ReadPiecesTest, FillsEachPieceWithTheNextBytes) {
  const std::vector<std::uint8_t> file_bytes = Counting(300000);
  avi_test::TempFile temp("pieces.bin");
  ASSERT_TRUE(temp.Write(file_bytes));
  avi::FileReader reader;
  ASSERT_TRUE(reader.Open(temp.path()));

  const PiecesCase& c = GetParam();
  const std::size_t total = std::accumulate(c.sizes.begin(), c.sizes.end(), std::size_t{0});
  std::vector<std::uint8_t> out(total + 1, 0xEE);  // one guard byte past the pieces
  // Laid out in reverse, as the picture getter lays top-down rows.
  std::vector<std::span<std::uint8_t>> pieces;
  std::size_t end = total;
  for (std::size_t size : c.sizes) {
    end -= size;
    pieces.emplace_back(out.data() + end, size);
  }
  ASSERT_TRUE(reader.ReadPiecesAt(c.offset, pieces));
  std::size_t at = c.offset;
  for (const auto& p : pieces) {
    for (std::size_t i = 0; i < p.size(); ++i, ++at) ASSERT_EQ(p[i], file_bytes[at]) << at;
  }
  EXPECT_EQ(out[total], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadPiecesTest,
    ::testing::Values(PiecesCase{"OnePiece", {1000}, 5},
                      PiecesCase{"PictureRows", std::vector<std::size_t>(160, 1296), 4000},
                      PiecesCase{"MoreThanOneCallTakes", std::vector<std::size_t>(1000, 97), 0},
                      PiecesCase{"EmptyPiecesBetween", {0, 10, 0, 0, 3, 0}, 17},
                      PiecesCase{"NoPieces", {}, 300000},
                      PiecesCase{"ToTheLastByte", {299990, 10}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadPieces, RefusesBytesPastTheEnd) {
  avi_test::TempFile temp("short.bin");
  ASSERT_TRUE(temp.Write(Counting(100)));
  avi::FileReader reader;
  ASSERT_TRUE(reader.Open(temp.path()));
  std::vector<std::uint8_t> a(60), b(41);
  const std::vector<std::span<std::uint8_t>> pieces = {a, b};
  EXPECT_FALSE(reader.ReadPiecesAt(0, pieces));
  EXPECT_FALSE(reader.ReadPiecesAt(101, std::vector<std::span<std::uint8_t>>{}));
  EXPECT_TRUE(reader.ReadPiecesAt(100, std::vector<std::span<std::uint8_t>>{}));
  EXPECT_FALSE(avi::FileReader().ReadPiecesAt(0, pieces));  // not open
}

}  // namespace
