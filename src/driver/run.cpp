#include "driver/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "driver/console.h"
#include "driver/frames_argument.h"
#include "driver/progress.h"
#include "movie/movie_source.h"
#include "track/track_encoder.h"
#include "track/track_file.h"

namespace driver {
namespace {

constexpr std::size_t kConsoleBufferBytes = 64 * 1024;
constexpr std::size_t kTrackBufferBytes = 1024 * 1024;

// Standard error lines follow progress lines that end in a carriage return;
// on a terminal they start on a line of their own.
void Complain(const std::string& text) {
  std::fflush(stdout);
  std::fprintf(stderr, "kestrix: %s\n", text.c_str());
}

std::string TrackName(int t) {
  char name[32];
  std::snprintf(name, sizeof name, "QMT Track %02d.wav", t);
  return name;
}

struct SkipCounts {
  std::int64_t no_picture = 0;
  std::int64_t no_sound = 0;
};

void ReportSkips(const SkipCounts& skips, std::int32_t frames) {
  const std::int64_t skipped = skips.no_picture + skips.no_sound;
  if (skipped == 0) return;
  std::string text = std::to_string(skipped) + " of " + std::to_string(frames) +
                     " frames were skipped (" + std::to_string(skips.no_picture) +
                     " without a picture, " + std::to_string(skips.no_sound) +
                     " without sound); the tracks hold only the others";
  Complain(text);
}

}  // namespace

int RunKestrix(int argc, char** argv) {
  const std::time_t start = std::time(nullptr);
  PrepareConsole();
  static char console_buffer[kConsoleBufferBytes];
  std::setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);

  if (argc < 2) {
    std::printf("usage: kestrix.exe <inFilename> <framesPerFile>\n");
    return 0;
  }
  std::int32_t frames_per_track = argc > 2 ? ParseFramesPerTrack(argv[2]) : 0;

  AVIFileInit();
  movie::MovieSource movie;
  if (!movie::OpenMovie(movie, argv[1])) {
    Complain(movie.problem);
    movie::CloseMovie(movie);
    AVIFileExit();
    return 1;
  }
  if (!movie.problem.empty()) Complain(movie.problem + "; every frame will be skipped");

  const std::int32_t frames = movie::FrameCount(movie);
  if (frames_per_track == 0) frames_per_track = frames;

  // A countdown below zero never ends a track early: one track holds all.
  const std::int64_t largest_track =
      frames_per_track > 0 ? std::min<std::int64_t>(frames_per_track, frames) : frames;
  if (largest_track > track::kMaxRecordsPerTrack) {
    Complain("a track of " + std::to_string(largest_track) + " frames would pass the 4 GiB " +
             "a WAV file can hold; give at most " + std::to_string(track::kMaxRecordsPerTrack) +
             " frames per track, for example: kestrix \"" + argv[1] + "\" " +
             std::to_string(track::kMaxRecordsPerTrack));
    movie::CloseMovie(movie);
    AVIFileExit();
    return 1;
  }

  auto encoder = std::make_unique<track::TrackEncoder>(movie);
  auto track_buffer = std::make_unique<char[]>(kTrackBufferBytes);
  ProgressPrinter progress(stdout);
  SkipCounts skips;

  std::int32_t i = 0;
  for (int t = 1;; ++t) {
    const std::string name = TrackName(t);
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) {
      const int error = errno;
      std::printf("\nCould Not open output file: --%s--\n\n", name.c_str());
      Complain("cannot create \"" + name + "\": " + std::strerror(error));
      movie::CloseMovie(movie);
      AVIFileExit();
      return 1;
    }
    std::setvbuf(file, track_buffer.get(), _IOFBF, kTrackBufferBytes);

    bool written = track::BeginTrackFile(file);
    std::int32_t n = frames_per_track;
    while (written) {
      progress.Frame(i, frames);
      switch (track::WriteFrameRecord(*encoder, i, file)) {
        case track::RecordResult::kWritten: break;
        case track::RecordResult::kNoPicture: skips.no_picture += i < frames; break;
        case track::RecordResult::kNoSound: skips.no_sound += i < frames; break;
        case track::RecordResult::kWriteFailed: written = false; break;
      }
      ++i;
      --n;
      if (n == 0 || i >= frames) break;
    }
    int error = errno;
    if (written) {
      written = track::FinishTrackFile(file);
      error = errno;
    } else {
      std::fclose(file);
    }
    if (!written) {
      const bool removed = std::remove(name.c_str()) == 0;
      std::string text = "cannot write \"" + name + "\": " + std::strerror(error) + "; ";
      text += removed ? "the unfinished track was removed" : "the unfinished track is incomplete";
      if (t == 2) text += "; track 1 is complete";
      if (t > 2) text += "; tracks 1 to " + std::to_string(t - 1) + " are complete";
      Complain(text);
      movie::CloseMovie(movie);
      AVIFileExit();
      return 1;
    }
    if (i >= frames) break;
  }

  movie::CloseMovie(movie);
  ReportSkips(skips, frames);
  std::printf("\nDone in %lld seconds\n", static_cast<long long>(std::time(nullptr) - start));
  std::fflush(stdout);
  AVIFileExit();
  return 0;
}

}  // namespace driver
