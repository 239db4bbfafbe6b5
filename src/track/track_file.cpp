#include "track/track_file.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace track {
namespace {

void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
}

std::array<std::uint8_t, kFirstRecordOffset> MakeTrackStart() {
  std::array<std::uint8_t, kFirstRecordOffset> b{};
  std::uint8_t* p = b.data();
  std::memcpy(p + 0, "RIFF", 4);
  Put32(p + kRiffSizeOffset, 0);
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  Put32(p + 16, 16);  // format chunk size
  Put16(p + 20, 1);   // PCM
  Put16(p + 22, kChannels);
  Put32(p + 24, kSampleRate);
  Put32(p + 28, kBytesPerSecond);
  Put16(p + 32, kBlockAlign);
  Put16(p + 34, kBitsPerSample);
  std::memcpy(p + 36, "data", 4);
  Put32(p + kDataSizeOffset, 0);
  // Bytes 44 to 603 stay zero: the lead-in silence.
  return b;
}

std::int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

bool SeekTo(std::FILE* f, std::int64_t offset) {
#ifdef _WIN32
  return _fseeki64(f, offset, SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool PutSizeAt(std::FILE* f, std::int64_t offset, std::uint32_t value) {
  std::uint8_t b[4];
  Put32(b, value);
  return SeekTo(f, offset) && std::fwrite(b, 1, 4, f) == 4 && std::fflush(f) == 0;
}

}  // namespace

bool BeginTrackFile(std::FILE* file) {
  static const auto kTrackStart = MakeTrackStart();
  return std::fwrite(kTrackStart.data(), 1, kTrackStart.size(), file) == kTrackStart.size();
}

bool FinishTrackFile(std::FILE* file) {
  bool ok = std::fflush(file) == 0;
  const std::int64_t length = ok ? Tell(file) : -1;
  if (ok && length < kFirstRecordOffset) {
    if (length >= 0) errno = EIO;  // the header never reached the file
    ok = false;
  } else if (ok && length - 8 > std::int64_t{0xFFFFFFFF}) {
    errno = EFBIG;
    ok = false;
  }
  ok = ok && PutSizeAt(file, kRiffSizeOffset, static_cast<std::uint32_t>(length - 8)) &&
       PutSizeAt(file, kDataSizeOffset, static_cast<std::uint32_t>(length - kHeaderBytes));
  const int saved = errno;
  const bool closed = std::fclose(file) == 0;
  if (!ok) errno = saved;
  return ok && closed;
}

}  // namespace track
