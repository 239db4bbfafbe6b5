#include "track/track_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace track {
namespace {

std::vector<std::uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Get32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

class TrackFileTest : public testing::TestWithParam<int> {
 protected:
  // CTest runs the cases side by side: each has a file of its own.
  std::string path_ = testing::TempDir() + "track_file_test_" + std::to_string(GetParam()) + "_" +
                      std::to_string(getpid()) + ".wav";
  void TearDown() override { std::remove(path_.c_str()); }
};

TEST_P(TrackFileTest, SizesMatchTheRecordsWritten) {
  const int records = GetParam();
  std::FILE* f = std::fopen(path_.c_str(), "wb");
  ASSERT_TRUE(f);
  ASSERT_TRUE(BeginTrackFile(f));
  std::vector<std::uint8_t> record(kRecordBytes, 0x5A);
  for (int k = 0; k < records; ++k) ASSERT_EQ(std::fwrite(record.data(), 1, record.size(), f), record.size());
  ASSERT_TRUE(FinishTrackFile(f));

  const auto b = ReadAll(path_);
  ASSERT_EQ(static_cast<std::int64_t>(b.size()), TrackLength(records));
  EXPECT_EQ(Get32(b, 4), b.size() - 8);
  EXPECT_EQ(Get32(b, 40), b.size() - 44);
  const std::uint8_t header[36] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                   'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                                   0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
  EXPECT_EQ(std::memcmp(b.data() + 8, header + 8, 28), 0);
  EXPECT_EQ(std::memcmp(b.data(), "RIFF", 4), 0);
  EXPECT_EQ(std::memcmp(b.data() + 36, "data", 4), 0);
  for (std::size_t k = 44; k < 604; ++k) ASSERT_EQ(b[k], 0) << k;
}

// 0 records: 604 bytes, sizes 596 and 560; 1 record: 20,204, 20,196, 20,160.
INSTANTIATE_TEST_SUITE_P(Records, TrackFileTest, testing::Values(0, 1, 3));

TEST(TrackFileLimitsTest, LargestTrackFitsTheSizeFields) {
  EXPECT_EQ(kMaxRecordsPerTrack, 219130);
  EXPECT_LE(TrackLength(kMaxRecordsPerTrack) - 8, std::int64_t{0xFFFFFFFF});
  EXPECT_GT(TrackLength(kMaxRecordsPerTrack + 1) - 8, std::int64_t{0xFFFFFFFF});
  EXPECT_EQ(TrackLength(1), 20204);
}

TEST(TrackFileFailureTest, FullDiskIsReported) {
  std::FILE* f = std::fopen("/dev/full", "wb");
  if (!f) GTEST_SKIP() << "no /dev/full here";
  BeginTrackFile(f);  // buffered: the failure shows at the latest when flushing
  errno = 0;
  EXPECT_FALSE(FinishTrackFile(f));
  EXPECT_EQ(errno, ENOSPC);
}

}  // namespace
}  // namespace track
