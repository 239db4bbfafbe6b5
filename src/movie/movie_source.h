// MovieSource: the program's only way into the input movie.
//
// OpenMovie opens the movie named on the command line through the
// video-file library, picks its first sound and first picture stream, and
// prints the report of their formats to standard output. Afterwards the
// source answers the frame count, the decoded picture of a frame, and the
// sound of a frame, until CloseMovie.
//
// Failures print nothing: OpenMovie and the fetches answer false (or no
// picture), and `problem` says why in words the caller may show the user.
// The library must be started (AVIFileInit) before OpenMovie and stopped
// after CloseMovie; the caller does both.
#ifndef KESTRIX_MOVIE_MOVIE_SOURCE_H_
#define KESTRIX_MOVIE_MOVIE_SOURCE_H_

#include <cstdint>
#include <string>

#include "movie/video_library.h"
#include "track/frame_record.h"

namespace movie {

struct MovieSource {
  PAVIFILE file = nullptr;
  PAVISTREAM sound = nullptr;
  PAVISTREAM picture = nullptr;
  PGETFRAME getter = nullptr;  // absent when the pictures cannot be decoded
  BITMAPINFOHEADER picture_format{};
  // Why OpenMovie failed, or, after a successful open without a frame
  // getter, why no picture can be fetched. Empty otherwise.
  std::string problem;
};

// Removes one double quote from the start and one from the end of `name`,
// in place, and opens the movie. True when the movie is ready.
bool OpenMovie(MovieSource& movie, char* name);

// The picture stream's length in frames.
std::int32_t FrameCount(const MovieSource& movie);

// The decoded picture of frame i, as the library hands it back (a packed
// bitmap it owns until the next fetch), or nullptr.
const void* FetchPicture(MovieSource& movie, std::int32_t i);

// Reads the 980 sound samples of frame i into `block`. Bytes a short read
// does not deliver keep what the block held before.
bool FetchSound(MovieSource& movie, std::int32_t i, track::SoundBlock& block);

// Releases the getter, the streams and the file.
void CloseMovie(MovieSource& movie);

}  // namespace movie

#endif  // KESTRIX_MOVIE_MOVIE_SOURCE_H_
