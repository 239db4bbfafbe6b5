// The frame record: one movie frame as 19,600 bytes of track data.
//
// A record is 1,960 ten-byte control groups. Group g holds nine bytes chosen
// by g (the lead block, a row of the index table, the fill block, or nine
// bytes of the picture payload) followed by byte g of the sound block. At
// 176,400 bytes a second a record lasts one ninth of a second.
//
// RecordAssembler keeps one record buffer whose constant bytes are laid once;
// Assemble() only lays the payload and the sound into it, so building a
// record allocates nothing.
#ifndef KESTRIX_TRACK_FRAME_RECORD_H_
#define KESTRIX_TRACK_FRAME_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace track {

constexpr std::size_t kGroupBytes = 10;
constexpr std::size_t kGroupsPerRecord = 1960;
constexpr std::size_t kRecordBytes = kGroupBytes * kGroupsPerRecord;  // 19,600

constexpr std::size_t kLeadGroups = 24;   // groups 0 to 23
constexpr std::size_t kIndexGroups = 12;  // groups 24 to 35
constexpr std::size_t kFillGroups = 4;    // groups 36 to 39
constexpr std::size_t kFirstPayloadGroup = kLeadGroups + kIndexGroups + kFillGroups;  // 40

constexpr std::size_t kPictureLines = 160;
constexpr std::size_t kPayloadLineBytes = 108;  // 216 four-bit samples
constexpr std::size_t kPayloadBytes = kPictureLines * kPayloadLineBytes;  // 17,280
constexpr std::size_t kSoundBytes = kGroupsPerRecord;                     // 1,960
constexpr std::int32_t kSoundSamplesPerFrame = 980;

static_assert(kPayloadBytes == 9 * (kGroupsPerRecord - kFirstPayloadGroup));

using NineBytes = std::array<std::uint8_t, 9>;

constexpr NineBytes kLeadBlock = {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7};
constexpr NineBytes kFillBlock = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr std::array<NineBytes, kIndexGroups> kIndexTable = {{
    {0x00, 0x00, 0x02, 0x01, 0x04, 0x02, 0x06, 0x03, 0xFF},
    {0x08, 0x04, 0x0A, 0x05, 0x0C, 0x06, 0x0E, 0x07, 0xFF},
    {0x11, 0x08, 0x13, 0x09, 0x15, 0x0A, 0x17, 0x0B, 0xFF},
    {0x19, 0x0C, 0x1B, 0x0D, 0x1D, 0x0E, 0x1F, 0x0F, 0xFF},
    {0x00, 0x28, 0x02, 0x29, 0x04, 0x2A, 0x06, 0x2B, 0xFF},
    {0x08, 0x2C, 0x0A, 0x2D, 0x0C, 0x2E, 0x0E, 0x2F, 0xFF},
    {0x11, 0x30, 0x13, 0x31, 0x15, 0x32, 0x17, 0x33, 0xFF},
    {0x19, 0x34, 0x1B, 0x35, 0x1D, 0x36, 0x1F, 0x37, 0xFF},
    {0x00, 0x38, 0x02, 0x39, 0x04, 0x3A, 0x06, 0x3B, 0xFF},
    {0x08, 0x3C, 0x0A, 0x3D, 0x0C, 0x3E, 0x0E, 0x3F, 0xFF},
    {0x11, 0x40, 0x13, 0x41, 0x15, 0x42, 0x17, 0x43, 0xFF},
    {0x19, 0x44, 0x1B, 0x45, 0x1D, 0x46, 0x1F, 0x47, 0xFF},
}};

// The nine fixed bytes of group g, for g below kFirstPayloadGroup.
const NineBytes& ConstantGroup(std::size_t g);

using PicturePayload = std::array<std::uint8_t, kPayloadBytes>;
using SoundBlock = std::array<std::uint8_t, kSoundBytes>;
using RecordBytes = std::array<std::uint8_t, kRecordBytes>;

class RecordAssembler {
 public:
  RecordAssembler();
  // Lays `payload` and `sound` into the record and returns it; the constant
  // groups are already in place.
  const RecordBytes& Assemble(const PicturePayload& payload, const SoundBlock& sound);

 private:
  RecordBytes record_;
};

}  // namespace track

#endif  // KESTRIX_TRACK_FRAME_RECORD_H_
