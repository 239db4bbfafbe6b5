// Finding and checking the frame records of one track.
//
// A track is a WAV file whose sample data is a run of 19,600-byte frame
// records (see track/frame_record.h). A track ripped from a disc may carry a
// few samples of offset (bytes added in front or cut from the start), a
// ripper's own header, or damaged bytes. So records are found by their sync
// pattern, the lead block repeated in groups 0 to 23 with a sound byte after
// each copy, and never by assuming they start at byte 604.
//
// ScanTrack() walks the track once through a BlockReader: it searches for
// the lead block with memmem, settles where the record starts, and then
// steps 19,600 bytes while records follow back to back; only when the
// expected record is not there does it search again. Memory stays at one
// read window whatever the track's size.
//
// Contract: ScanTrack() fails (Status) only when reading fails; anything
// odd about the track's bytes is reported in the TrackScan, never treated
// as an error. Records come out in file order and never overlap.
#ifndef KESTRIX_INSPECT_TRACK_SCAN_H_
#define KESTRIX_INSPECT_TRACK_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/byte_source.h"
#include "track/frame_record.h"

namespace inspect {

// What the WAV header says, checked against what kestrix writes: PCM, two
// channels, 44,100 Hz, 16 bits, sizes matching the file.
struct HeaderCheck {
  bool riff_found = false;       // "RIFF....WAVE" at the start
  bool data_found = false;       // a "data" chunk was found
  std::uint64_t data_offset = 0; // where the sample data starts (0 without a header)
  std::vector<std::string> problems;  // one line per mismatch; empty when all is right
};

// Reads and checks the header of a WAV track. Fails only when reading fails.
Status CheckHeader(BlockReader& reader, HeaderCheck* out);

// Which constant parts of a record did not match.
enum Damage : unsigned {
  kDamageNone = 0,
  kDamageSync = 1u << 0,   // a lead group (0 to 23) is wrong
  kDamageIndex = 1u << 1,  // an index-table group (24 to 35) is wrong
  kDamageFill = 1u << 2,   // a fill group (36 to 39) is wrong
  kDamageShort = 1u << 3,  // fewer than 19,600 bytes before the next record or the end
};

struct RecordInfo {
  std::uint64_t offset = 0;    // file offset of group 0
  std::uint32_t length = 0;    // bytes of the record present (19,600 when whole)
  unsigned damage = kDamageNone;
  std::uint8_t bad_lead = 0;   // lead groups that differ
  std::uint8_t bad_index = 0;  // index groups that differ
  std::uint8_t bad_fill = 0;   // fill groups that differ

  bool whole() const { return damage == kDamageNone; }
};

// Bytes between two records that are not part of either.
struct Gap {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct TrackScan {
  HeaderCheck header;
  std::uint64_t file_size = 0;
  std::vector<RecordInfo> records;
  std::vector<Gap> gaps;
  std::uint64_t leading_bytes = 0;     // from the data start to the first record
  bool leading_all_zero = true;        // whether those bytes are all zero (lead-in silence)
  std::uint64_t trailing_bytes = 0;    // after the last record (all the data without records)
  bool trailing_all_zero = true;       // whether those bytes are all zero (a ripper's padding)

  std::size_t damaged_count() const;
  // Every record whole, no gaps and at least one record.
  bool all_whole() const { return damaged_count() == 0 && gaps.empty() && !records.empty(); }
};

// Scans the whole track behind `reader`.
Status ScanTrack(BlockReader& reader, TrackScan* out);

// Compares the 40 constant groups at `record` (at least
// track::kFirstPayloadGroup * kGroupBytes bytes) with what they must hold.
void CompareConstantGroups(const std::uint8_t* record, RecordInfo* info);

// The picture payload and the sound block carried by a record.
void ExtractPayload(const track::RecordBytes& record, track::PicturePayload* payload);
void ExtractSound(const track::RecordBytes& record, track::SoundBlock* sound);

// Reads the bytes of a found record; bytes missing from a record cut short
// are zero.
Status ReadRecord(ByteSource& source, const RecordInfo& info, track::RecordBytes* out);

}  // namespace inspect

#endif  // KESTRIX_INSPECT_TRACK_SCAN_H_
