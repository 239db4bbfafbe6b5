// Reading the frames-per-track argument.
#ifndef KESTRIX_DRIVER_FRAMES_ARGUMENT_H_
#define KESTRIX_DRIVER_FRAMES_ARGUMENT_H_

#include <cstdint>

namespace driver {

// Reads `text` as atoi does: leading white space skipped, one optional sign,
// then digits up to the first non-digit; no digits gives 0. A number past
// the 32-bit range saturates at INT32_MAX or INT32_MIN.
std::int32_t ParseFramesPerTrack(const char* text);

}  // namespace driver

#endif  // KESTRIX_DRIVER_FRAMES_ARGUMENT_H_
