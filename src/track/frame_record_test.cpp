#include "track/frame_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace track {
namespace {

TEST(IndexTableTest, FollowsItsPairRule) {
  for (int block = 0; block < 3; ++block) {
    const int b_base = block == 0 ? 0 : block == 1 ? 0x28 : 0x38;
    for (int p = 0; p < 16; ++p) {
      const NineBytes& row = kIndexTable[block * 4 + p / 4];
      const int a = p < 8 ? 2 * p : 2 * p + 1;
      EXPECT_EQ(row[2 * (p % 4)], a) << block << " " << p;
      EXPECT_EQ(row[2 * (p % 4) + 1], b_base + p) << block << " " << p;
    }
    for (int r = 0; r < 4; ++r) EXPECT_EQ(kIndexTable[block * 4 + r][8], 0xFF);
  }
}

TEST(RecordAssemblerTest, LaysGroupsPayloadAndSound) {
  PicturePayload payload;
  SoundBlock sound;
  for (std::size_t k = 0; k < payload.size(); ++k) payload[k] = static_cast<std::uint8_t>(k * 7 + 3);
  for (std::size_t k = 0; k < sound.size(); ++k) sound[k] = static_cast<std::uint8_t>(k);
  RecordAssembler assembler;
  const RecordBytes& r = assembler.Assemble(payload, sound);
  ASSERT_EQ(r.size(), 19600u);
  for (std::size_t g = 0; g < kGroupsPerRecord; ++g) {
    const std::uint8_t* group = &r[g * 10];
    const std::uint8_t* nine = g < 24 ? kLeadBlock.data()
                               : g < 36 ? kIndexTable[g - 24].data()
                               : g < 40 ? kFillBlock.data()
                                        : &payload[9 * (g - 40)];
    ASSERT_EQ(std::memcmp(group, nine, 9), 0) << g;
    ASSERT_EQ(group[9], static_cast<std::uint8_t>(g)) << g;  // sound at 9, 19, 29, ...
  }
  // Picture line L fills groups 40 + 12L to 51 + 12L.
  EXPECT_EQ(r[(40 + 12 * 5) * 10], payload[108 * 5]);
}

TEST(RecordAssemblerTest, ConstantGroupsSurviveEveryFrame) {
  RecordAssembler assembler;
  PicturePayload payload;
  SoundBlock sound;
  payload.fill(0xAA);
  sound.fill(0x55);
  RecordBytes first = assembler.Assemble(payload, sound);
  payload.fill(0x00);
  sound.fill(0xFF);
  const RecordBytes& second = assembler.Assemble(payload, sound);
  for (std::size_t g = 0; g < kFirstPayloadGroup; ++g) {
    ASSERT_EQ(std::memcmp(&first[g * 10], &second[g * 10], 9), 0) << g;
    ASSERT_EQ(second[g * 10 + 9], 0xFF);
  }
  for (std::size_t g = kFirstPayloadGroup; g < kGroupsPerRecord; ++g) {
    ASSERT_EQ(second[g * 10], 0x00) << g;
  }
}

}  // namespace
}  // namespace track
