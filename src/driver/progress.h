// The per-frame progress line, visible as it happens.
//
// Standard output is fully buffered for speed. The progress printer writes
// the line for each frame and flushes standard output once the flush
// interval has passed since the last flush, so a terminal shows the count
// moving (about twenty times a second) while thousands of frames a second
// cost one flush per interval rather than one per frame.
#ifndef KESTRIX_DRIVER_PROGRESS_H_
#define KESTRIX_DRIVER_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace driver {

class ProgressPrinter {
 public:
  explicit ProgressPrinter(std::FILE* out,
                           std::chrono::milliseconds interval = std::chrono::milliseconds(50));

  // Prints "writing frame: <i + 1> Of <count> Frames\r".
  void Frame(std::int32_t i, std::int32_t count);

 private:
  std::FILE* out_;
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point last_flush_;
};

}  // namespace driver

#endif  // KESTRIX_DRIVER_PROGRESS_H_
