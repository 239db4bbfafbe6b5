// Fuzz entry: an arbitrary byte string opened as a movie and encoded the way
// the program encodes one: the movie source opens it (formats read whole, as
// it reads them), then every frame goes through the track encoder (picture
// fetched, brought into the packer's shape and packed, sound fetched, record
// assembled and written), then a random-access fetch, then the releases.
//
// The bytes are handed to the reader as a memory-backed file, so the whole
// real path (positioned reads included) is exercised. Records go to
// /dev/null; the open report goes to standard output (run the fuzzer with
// -close_fd_mask=1 to silence it).
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "movie/movie_source.h"
#include "track/track_encoder.h"

namespace {

// Enough frames to cross several index and drop-frame paths while keeping
// one input fast.
constexpr std::int32_t kMostFrames = 300;

void EncodeMovie(std::string path, std::FILE* sink) {
  movie::MovieSource source;
  if (movie::OpenMovie(source, path.data())) {
    track::TrackEncoder encoder(source);
    const std::int32_t frames = std::min(movie::FrameCount(source), kMostFrames);
    for (std::int32_t i = 0; i < frames; ++i) track::WriteFrameRecord(encoder, i, sink);
    // Random access too, as a getter must serve any frame in any order.
    if (frames > 2) track::WriteFrameRecord(encoder, frames / 2, sink);
  }
  movie::CloseMovie(source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::FILE* const sink = [] {
    AVIFileInit();
    return std::fopen("/dev/null", "wb");
  }();
  if (!sink) return 0;
  const int fd = memfd_create("kestrix-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  EncodeMovie("/proc/self/fd/" + std::to_string(fd), sink);
  close(fd);
  return 0;
}
