// Test fixtures: synthetic tracks laid out the way kestrix writes them, and
// a reference picture packer written from the packing rule, independent of
// the code under test.
#ifndef KESTRIX_INSPECT_TEST_TRACKS_H_
#define KESTRIX_INSPECT_TEST_TRACKS_H_

#include <cstdint>
#include <vector>

#include "track/frame_record.h"

namespace inspect::testing {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeaderBytes = 44;
constexpr std::size_t kLeadInBytes = 560;
constexpr std::size_t kFirstRecord = kHeaderBytes + kLeadInBytes;  // 604

// A canonical 44-byte track header for `data_bytes` of sample data.
Bytes TrackHeader(std::uint32_t data_bytes);

// Deterministic payload and sound of frame f.
track::PicturePayload TestPayload(int f);
track::SoundBlock TestSound(int f);

// The records of frames first .. first + count - 1, back to back.
Bytes TestRecords(int first, int count);

// A whole track: header, 560 zero bytes, `records` records.
Bytes TestTrack(int records);

// Packs a top-down RGB picture (432 x 160, 3 bytes a pixel) by the rule:
// even lines, sample j is pixel 2j + 1's red, green, blue for j mod 3 = 0,
// 1, 2; odd lines, pixel 2j's green, blue, red; the sample is the byte's
// upper four bits; sample 2k is the low nibble of line byte k.
track::PicturePayload ReferencePack(const std::uint8_t* rgb);

}  // namespace inspect::testing

#endif  // KESTRIX_INSPECT_TEST_TRACKS_H_
