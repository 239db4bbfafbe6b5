#include "driver/frames_argument.h"

#include <gtest/gtest.h>

namespace driver {
namespace {

struct Case {
  const char* text;
  std::int32_t expected;
};

class ParseFramesPerTrackTest : public testing::TestWithParam<Case> {};

TEST_P(ParseFramesPerTrackTest, ReadsLikeAtoiAndSaturates) {
  EXPECT_EQ(ParseFramesPerTrack(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseFramesPerTrackTest,
    testing::Values(Case{"3", 3}, Case{"0", 0}, Case{"", 0}, Case{"abc", 0},
                    Case{"  \t\n42", 42}, Case{"+7", 7}, Case{"-5", -5}, Case{"12abc", 12},
                    Case{"1 2", 1}, Case{"- 5", 0}, Case{"+-5", 0}, Case{"0x10", 0},
                    Case{"007", 7}, Case{"2147483647", 2147483647},
                    Case{"2147483648", 2147483647}, Case{"99999999999999999999999", 2147483647},
                    Case{"-2147483648", INT32_MIN}, Case{"-2147483649", INT32_MIN},
                    Case{"-99999999999999999999999", INT32_MIN}));

}  // namespace
}  // namespace driver
