#include "driver/progress.h"

namespace driver {

ProgressPrinter::ProgressPrinter(std::FILE* out, std::chrono::milliseconds interval)
    : out_(out), interval_(interval), last_flush_(std::chrono::steady_clock::now()) {}

void ProgressPrinter::Frame(std::int32_t i, std::int32_t count) {
  std::fprintf(out_, "writing frame: %lld Of %ld Frames\r", static_cast<long long>(i) + 1,
               static_cast<long>(count));
  const auto now = std::chrono::steady_clock::now();
  if (now - last_flush_ >= interval_) {
    std::fflush(out_);
    last_flush_ = now;
  }
}

}  // namespace driver
