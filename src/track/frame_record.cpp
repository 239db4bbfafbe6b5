#include "track/frame_record.h"

#include <cstring>

namespace track {

const NineBytes& ConstantGroup(std::size_t g) {
  if (g < kLeadGroups) return kLeadBlock;
  if (g < kLeadGroups + kIndexGroups) return kIndexTable[g - kLeadGroups];
  return kFillBlock;
}

RecordAssembler::RecordAssembler() {
  record_.fill(0);
  for (std::size_t g = 0; g < kFirstPayloadGroup; ++g) {
    std::memcpy(&record_[g * kGroupBytes], ConstantGroup(g).data(), 9);
  }
}

const RecordBytes& RecordAssembler::Assemble(const PicturePayload& payload,
                                             const SoundBlock& sound) {
  std::uint8_t* out = record_.data();
  const std::uint8_t* pay = payload.data();
  std::size_t g = 0;
  for (; g < kFirstPayloadGroup; ++g) out[g * kGroupBytes + 9] = sound[g];
  for (; g < kGroupsPerRecord; ++g, pay += 9) {
    std::uint8_t* group = out + g * kGroupBytes;
    std::memcpy(group, pay, 9);
    group[9] = sound[g];
  }
  return record_;
}

}  // namespace track
