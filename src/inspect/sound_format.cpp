#include "inspect/sound_format.h"

namespace inspect {

std::string SoundFormat::name() const {
  return std::string(bits == 8 ? "u8" : "s16") + (channels == 1 ? "-mono" : "-stereo");
}

std::optional<SoundFormat> ParseSoundFormat(std::string_view name) {
  if (name == "u8-stereo") return SoundFormat{2, 8};
  if (name == "u8-mono") return SoundFormat{1, 8};
  if (name == "s16-mono") return SoundFormat{1, 16};
  if (name == "s16-stereo") return SoundFormat{2, 16};
  return std::nullopt;
}

const char* SoundFormatNames() { return "u8-stereo, u8-mono, s16-mono, s16-stereo"; }

}  // namespace inspect
