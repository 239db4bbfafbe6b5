// The track file: a CD-audio WAV file whose data carries frame records.
//
// Layout: the 44-byte RIFF/WAVE header (PCM, 2 channels, 44,100 Hz, 16 bits)
// with both size fields first written as 0, then 560 zero bytes of lead-in
// silence inside the data chunk, then the frame records back to back.
// FinishTrackFile sets the sizes from the file's real length, so a track
// from which frames were skipped is still a consistent WAV file.
//
// The file is a C stdio stream opened for binary writing by the caller.
// Every function reports whether all its writes, flushes and seeks
// succeeded; on false, errno tells why.
#ifndef KESTRIX_TRACK_TRACK_FILE_H_
#define KESTRIX_TRACK_TRACK_FILE_H_

#include <cstdint>
#include <cstdio>

#include "track/frame_record.h"

namespace track {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::uint16_t kBlockAlign = kChannels * kBitsPerSample / 8;   // 4
constexpr std::uint32_t kBytesPerSecond = kSampleRate * kBlockAlign;   // 176,400
constexpr std::uint32_t kHeaderBytes = 44;
constexpr std::uint32_t kLeadInBytes = 560;
constexpr std::uint32_t kFirstRecordOffset = kHeaderBytes + kLeadInBytes;  // 604
constexpr std::uint32_t kRiffSizeOffset = 4;
constexpr std::uint32_t kDataSizeOffset = 40;

// The most records one track can hold while its RIFF size (file length - 8)
// still fits the 32-bit field: 219,130.
constexpr std::int64_t kMaxRecordsPerTrack =
    (std::int64_t{0xFFFFFFFF} + 8 - kFirstRecordOffset) / kRecordBytes;

// Length of a track holding `records` records.
constexpr std::int64_t TrackLength(std::int64_t records) {
  return kFirstRecordOffset + records * static_cast<std::int64_t>(kRecordBytes);
}

// Writes the header and the lead-in silence: the first 604 bytes.
bool BeginTrackFile(std::FILE* file);

// Sets the RIFF and data sizes from the file's length and closes the file,
// which is closed afterwards whatever the result.
bool FinishTrackFile(std::FILE* file);

}  // namespace track

#endif  // KESTRIX_TRACK_TRACK_FILE_H_
