#include "track/track_encoder.h"

#include "track/pack.h"

namespace track {

RecordResult WriteFrameRecord(TrackEncoder& encoder, std::int32_t i, std::FILE* file) {
  const void* frame = movie::FetchPicture(encoder.movie, i);
  if (!frame) return RecordResult::kNoPicture;
  const std::uint8_t* picture = encoder.converter.Conform(static_cast<const std::uint8_t*>(frame));
  if (!picture) return RecordResult::kNoPicture;
  PackPicture(picture, encoder.payload);
  if (!movie::FetchSound(encoder.movie, i, encoder.sound)) return RecordResult::kNoSound;
  const RecordBytes& record = encoder.record.Assemble(encoder.payload, encoder.sound);
  if (std::fwrite(record.data(), 1, record.size(), file) != record.size()) {
    return RecordResult::kWriteFailed;
  }
  return RecordResult::kWritten;
}

}  // namespace track
