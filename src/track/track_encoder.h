// WriteFrameRecord: one movie frame into the open track file.
//
// The TrackEncoder owns the buffers every frame reuses: the picture payload,
// the sound block (never cleared, so bytes a short sound read leaves out keep
// the previous frame's), the record under assembly and the converter that
// brings any picture the library returns into the packer's shape. It borrows
// the movie source. Nothing is allocated per frame.
#ifndef KESTRIX_TRACK_TRACK_ENCODER_H_
#define KESTRIX_TRACK_TRACK_ENCODER_H_

#include <cstdint>
#include <cstdio>

#include "movie/movie_source.h"
#include "track/frame_record.h"
#include "track/picture_convert.h"

namespace track {

enum class RecordResult {
  kWritten,
  kNoPicture,   // skipped: no picture could be fetched or converted
  kNoSound,     // skipped: the sound could not be read
  kWriteFailed  // the file did not take the record; errno says why
};

struct TrackEncoder {
  explicit TrackEncoder(movie::MovieSource& source) : movie(source) {}

  movie::MovieSource& movie;
  PicturePayload payload{};
  SoundBlock sound{};
  RecordAssembler record;
  PictureConverter converter;
};

// Fetches frame i's picture and sound and appends its record to `file`, or
// skips the frame whole (writing nothing) when either cannot be fetched.
RecordResult WriteFrameRecord(TrackEncoder& encoder, std::int32_t i, std::FILE* file);

}  // namespace track

#endif  // KESTRIX_TRACK_TRACK_ENCODER_H_
