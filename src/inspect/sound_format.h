// The movie's own sound, as the tracks carry it, and the PCM layouts it may
// be read as.
//
// Each frame record carries 1,960 sound bytes and there are nine frames a
// second: 17,640 bytes a second. The bytes are the movie's sound copied as
// they were; the tracks do not say how they are laid out, so the user names
// the layout, and the sample rate follows from it: 8,820 sample frames a
// second for the two-byte layouts (u8-stereo, s16-mono), 17,640 for u8-mono
// and 4,410 for s16-stereo, so that the sound always lasts as long as the
// pictures.
#ifndef KESTRIX_INSPECT_SOUND_FORMAT_H_
#define KESTRIX_INSPECT_SOUND_FORMAT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace inspect {

constexpr std::uint32_t kSoundBytesPerSecond = 17640;  // 1,960 bytes x 9 frames

struct SoundFormat {
  std::uint16_t channels = 2;
  std::uint16_t bits = 8;

  std::uint16_t block_align() const { return static_cast<std::uint16_t>(channels * bits / 8); }
  std::uint32_t sample_rate() const { return kSoundBytesPerSecond / block_align(); }
  std::uint32_t bytes_per_second() const { return kSoundBytesPerSecond; }
  std::string name() const;
};

// "u8-stereo", "u8-mono", "s16-mono", "s16-stereo"; nothing for another name.
std::optional<SoundFormat> ParseSoundFormat(std::string_view name);

// The names ParseSoundFormat() accepts, for messages: "u8-stereo, ...".
const char* SoundFormatNames();

}  // namespace inspect

#endif  // KESTRIX_INSPECT_SOUND_FORMAT_H_
