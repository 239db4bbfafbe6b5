#include "movie/movie_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace movie {
namespace {

void CleanQuotes(char* name) {
  if (name[0] == '"') std::memmove(name, name + 1, std::strlen(name));
  std::size_t n = std::strlen(name);
  if (n > 0 && name[n - 1] == '"') name[n - 1] = '\0';
}

// The library's "cannot open" says little; the C library can say why.
std::string OpenFailure(const char* name, HRESULT status) {
  std::string why = DescribeStatus(status);
  if (status == AVIERR_FILEOPEN) {
    errno = 0;
    if (std::FILE* f = std::fopen(name, "rb")) {
      std::fclose(f);
    } else if (errno != 0) {
      why = std::strerror(errno);
    }
  }
  return "cannot open \"" + std::string(name) + "\": " + why;
}

// Reads the first `head_size` bytes of a stream's format into `head` (zeros
// past the format's end). The whole format is read, into a buffer of the size
// the library reports, since a library may refuse a buffer shorter than the
// format: a picture format followed by its palette or colour masks, a sound
// format followed by codec data.
HRESULT ReadFormatHead(PAVISTREAM stream, void* head, LONG head_size) {
  constexpr LONG kLargestFormat = 1 << 24;
  LONG size = 0;
  HRESULT status = AVIStreamReadFormat(stream, AVIStreamStart(stream), nullptr, &size);
  if (status != 0) return status;
  if (size < 0 || size > kLargestFormat) return AVIERR_BADFORMAT;
  std::vector<std::uint8_t> format(static_cast<std::size_t>(std::max(size, head_size)));
  size = static_cast<LONG>(format.size());
  status = AVIStreamReadFormat(stream, AVIStreamStart(stream), format.data(), &size);
  if (status != 0) return status;
  std::memcpy(head, format.data(), static_cast<std::size_t>(head_size));
  return 0;
}

}  // namespace

std::string DescribeStatus(HRESULT status) {
  switch (status) {
    case AVIERR_FILEOPEN: return "the file cannot be opened";
    case AVIERR_FILEREAD: return "the file cannot be read";
    case AVIERR_BADFORMAT: return "it is not an AVI movie this program can read";
    case AVIERR_UNSUPPORTED: return "it uses a feature the video-file library does not support";
    case AVIERR_MEMORY: return "there is not enough memory";
    case AVIERR_NODATA: return "the stream holds no data there";
    case AVIERR_BUFFERTOOSMALL: return "the buffer is too small";
    default: return DescribeOtherStatus(status);
  }
}

bool OpenMovie(MovieSource& movie, char* name) {
  CleanQuotes(name);
  const std::string quoted = "\"" + std::string(name) + "\"";

  HRESULT status = AVIFileOpenA(&movie.file, name, OF_READ, nullptr);
  if (status != 0) {
    movie.file = nullptr;
    movie.problem = OpenFailure(name, status);
    return false;
  }

  AVIFILEINFOA info;
  std::memset(&info, 0, sizeof info);
  AVIFileInfoA(movie.file, &info, sizeof info);
  std::printf("InputFile: %s\n\n", name);

  AVIFileGetStream(movie.file, &movie.sound, streamtypeAUDIO, 0);
  if (!movie.sound) {
    movie.problem = quoted + " has no sound stream";
    return false;
  }
  PCMWAVEFORMAT sound_format;
  status = ReadFormatHead(movie.sound, &sound_format, sizeof sound_format);
  if (status != 0) {
    movie.problem = "cannot read the sound format of " + quoted + ": " + DescribeStatus(status);
    return false;
  }
  std::printf("Audio:\t BitsPerSample\t%u\n", unsigned{sound_format.wBitsPerSample});
  std::printf("      \t Channels\t%u\n", unsigned{sound_format.wf.nChannels});
  std::printf("      \t SampleRate\t%lu\n\n",
              static_cast<unsigned long>(sound_format.wf.nSamplesPerSec));

  AVIFileGetStream(movie.file, &movie.picture, streamtypeVIDEO, 0);
  if (!movie.picture) {
    movie.problem = quoted + " has no picture stream";
    return false;
  }
  BITMAPINFOHEADER& format = movie.picture_format;
  status = ReadFormatHead(movie.picture, &format, sizeof format);
  if (status != 0) {
    movie.problem = "cannot read the picture format of " + quoted + ": " + DescribeStatus(status);
    return false;
  }
  std::printf("Video:\t Rate\t%lu\n", static_cast<unsigned long>(info.dwRate));
  std::printf("      \t Width\t%ld\n", static_cast<long>(format.biWidth));
  std::printf("      \t Height\t%ld\n", static_cast<long>(format.biHeight));
  std::printf("      \t bitsPerPixel\t%u\n\n", unsigned{format.biBitCount});

  movie.getter = AVIStreamGetFrameOpen(movie.picture, nullptr);
  if (!movie.getter) {
    movie.problem = "no picture of " + quoted + " can be shown: " +
                    DescribeMissingGetter(movie.picture, format);
  }
  return true;
}

std::int32_t FrameCount(const MovieSource& movie) {
  return static_cast<std::int32_t>(AVIStreamLength(movie.picture));
}

const void* FetchPicture(MovieSource& movie, std::int32_t i) {
  if (!movie.getter) return nullptr;
  return AVIStreamGetFrame(movie.getter, i);
}

bool FetchSound(MovieSource& movie, std::int32_t i, track::SoundBlock& block) {
  // Past 2^31 samples the position cannot be asked for at all.
  const std::int64_t start = static_cast<std::int64_t>(i) * track::kSoundSamplesPerFrame;
  if (start < 0 || start > INT32_MAX) return false;
  return AVIStreamRead(movie.sound, static_cast<LONG>(start), track::kSoundSamplesPerFrame, block.data(),
                       static_cast<LONG>(block.size()), nullptr, nullptr) == 0;
}

void CloseMovie(MovieSource& movie) {
  if (movie.getter) AVIStreamGetFrameClose(movie.getter);
  if (movie.sound) AVIStreamRelease(movie.sound);
  if (movie.picture) AVIStreamRelease(movie.picture);
  if (movie.file) AVIFileRelease(movie.file);
  movie.getter = nullptr;
  movie.sound = nullptr;
  movie.picture = nullptr;
  movie.file = nullptr;
}

}  // namespace movie
