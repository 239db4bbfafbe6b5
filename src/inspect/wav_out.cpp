#include "inspect/wav_out.h"

#include "inspect/le_bytes.h"

namespace inspect {
namespace {

constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint64_t kMaxRiffBytes = 0xFFFFFFFFull;

LeBytes Header(const SoundFormat& f, std::uint32_t data_bytes) {
  LeBytes h;
  h.Id("RIFF");
  h.U32(static_cast<std::uint32_t>(36 + data_bytes + (data_bytes & 1u)));
  h.Id("WAVE");
  h.Id("fmt ");
  h.U32(16);
  h.U16(kWaveFormatPcm);
  h.U16(f.channels);
  h.U32(f.sample_rate());
  h.U32(f.sample_rate() * f.block_align());
  h.U16(f.block_align());
  h.U16(f.bits);
  h.Id("data");
  h.U32(data_bytes);
  return h;
}

}  // namespace

Status WavWriter::Open() {
  Status s = out_.Open();
  if (!s.ok) return s;
  return out_.Write(Header(format_, 0).bytes());
}

Status WavWriter::Append(std::span<const std::uint8_t> bytes) {
  if (data_bytes_ + bytes.size() + kWavHeaderBytes > kMaxRiffBytes) {
    return Status::Error("cannot write '" + out_.path() + "': the sound is longer than a WAV file can hold");
  }
  data_bytes_ += bytes.size();
  return out_.Write(bytes);
}

Status WavWriter::Finish() {
  const auto n = static_cast<std::uint32_t>(data_bytes_);
  if (n & 1u) {
    const std::uint8_t pad = 0;
    Status s = out_.Write({&pad, 1});
    if (!s.ok) return s;
  }
  Status s = out_.WriteAt(0, Header(format_, n).bytes());
  if (!s.ok) return s;
  return out_.Commit();
}

}  // namespace inspect
