// Fuzz entry: an arbitrary byte string opened as a movie and read the way
// the program reads one: the file information, the first sound and picture
// streams, their formats, every frame's picture (brought into the packer's
// shape and packed) and every frame's sound, then the releases.
//
// The bytes are handed to the reader as a memory-backed file, so the whole
// real path (positioned reads included) is exercised.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "avi/avifile.h"
#include "track/frame_record.h"
#include "track/pack.h"
#include "track/picture_convert.h"

namespace {

// Enough frames to cross several index and drop-frame paths while keeping
// one input fast.
constexpr LONG kMostFrames = 300;

void ReadMovie(const char* path) {
  PAVIFILE file = nullptr;
  if (AVIFileOpenA(&file, path, OF_READ, nullptr) != 0) return;
  AVIFILEINFOA info{};
  AVIFileInfoA(file, &info, sizeof info);

  PAVISTREAM sound = nullptr;
  PAVISTREAM picture = nullptr;
  AVIFileGetStream(file, &sound, streamtypeAUDIO, 0);
  AVIFileGetStream(file, &picture, streamtypeVIDEO, 0);
  if (sound) {
    PCMWAVEFORMAT format{};
    LONG size = sizeof format;
    AVIStreamReadFormat(sound, AVIStreamStart(sound), &format, &size);
  }
  if (picture) {
    BITMAPINFOHEADER format{};
    LONG size = sizeof format;
    AVIStreamReadFormat(picture, AVIStreamStart(picture), &format, &size);
    const LONG frames = std::min(AVIStreamLength(picture), kMostFrames);
    static track::SoundBlock block;
    static track::PicturePayload payload;
    track::PictureConverter converter;
    PGETFRAME getter = AVIStreamGetFrameOpen(picture, nullptr);
    for (LONG i = 0; i < frames; ++i) {
      if (getter) {
        if (const void* frame = AVIStreamGetFrame(getter, i)) {
          if (const std::uint8_t* p = converter.Conform(static_cast<const std::uint8_t*>(frame))) {
            track::PackPicture(p, payload);
          }
        }
      }
      if (sound) AVIStreamRead(sound, i * track::kSoundSamplesPerFrame, 980, block.data(), 1960, nullptr, nullptr);
    }
    // Random access too, as a getter must serve any frame.
    if (getter && frames > 2) AVIStreamGetFrame(getter, frames / 2);
    if (getter) AVIStreamGetFrameClose(getter);
  }
  if (sound) AVIStreamRelease(sound);
  if (picture) AVIStreamRelease(picture);
  AVIFileRelease(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = (AVIFileInit(), true);
  (void)started;
  const int fd = memfd_create("kestrix-fuzz", MFD_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  ReadMovie(path.c_str());
  close(fd);
  return 0;
}
