#include "driver/frames_argument.h"

#include <cstdint>

namespace driver {
namespace {

// The white space the C library's isspace accepts in the "C" locale.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t ParseFramesPerTrack(const char* text) {
  while (IsSpace(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  const std::int64_t limit = negative ? -std::int64_t{INT32_MIN} : std::int64_t{INT32_MAX};
  std::int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > limit) value = limit;  // saturate; keep reading the digits
  }
  return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace driver
