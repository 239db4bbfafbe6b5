// Writing PCM sound as a plain WAV file.
//
// WavWriter writes a 44-byte header (RIFF, fmt of 16 bytes, data) with
// placeholder sizes, appends the sample bytes as given, and on Finish()
// stores the real sizes and commits the file. A WAV holds at most
// 4 GiB - 1 byte; Append() refuses to grow past it.
#ifndef KESTRIX_INSPECT_WAV_OUT_H_
#define KESTRIX_INSPECT_WAV_OUT_H_

#include <cstdint>
#include <span>
#include <string>

#include "inspect/output_file.h"
#include "inspect/sound_format.h"

namespace inspect {

constexpr std::size_t kWavHeaderBytes = 44;

class WavWriter {
 public:
  WavWriter(std::string path, SoundFormat format) : out_(std::move(path)), format_(format) {}
  Status Open();
  Status Append(std::span<const std::uint8_t> bytes);
  // Fixes the sizes in the header and renames the file to its name. A data
  // length that is not a whole number of sample frames gets a pad byte to
  // keep the RIFF chunk even.
  Status Finish();

 private:
  OutputFile out_;
  SoundFormat format_;
  std::uint64_t data_bytes_ = 0;
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_WAV_OUT_H_
