#include "inspect/avi_out.h"

#include <cstring>

#include "inspect/le_bytes.h"

namespace inspect {
namespace {

// Main header flags.
constexpr std::uint32_t AVIF_HASINDEX = 0x00000010;
constexpr std::uint32_t AVIF_ISINTERLEAVED = 0x00000100;
// Index entry flag: the chunk is a key frame.
constexpr std::uint32_t AVIIF_KEYFRAME = 0x00000010;
constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint16_t WAVE_FORMAT_PCM = 1;

constexpr std::size_t kChunkHeader = 8;
constexpr std::size_t kIndexEntryBytes = 16;

std::uint32_t PictureBytes(const AviLayout& l) {
  const std::uint32_t row = (static_cast<std::uint32_t>(l.width) * 3 + 3) & ~3u;
  return row * static_cast<std::uint32_t>(l.height);
}

// The RIFF header, 'hdrl' and the 'movi' list header, with the counts given.
// Its size does not depend on the counts, so Finish() can write it again
// over the first one.
LeBytes Headers(const AviLayout& l, std::uint32_t frames, std::uint64_t sound_bytes,
                std::uint32_t max_sound_chunk, std::uint64_t riff_bytes, std::uint64_t movi_bytes) {
  const std::uint32_t picture = PictureBytes(l);
  const SoundFormat& s = l.sound;
  LeBytes h;
  h.Id("RIFF");
  h.U32(static_cast<std::uint32_t>(riff_bytes));
  h.Id("AVI ");

  h.Id("LIST");
  const std::size_t hdrl_size_at = h.size();
  h.U32(0);
  h.Id("hdrl");

  h.Id("avih");
  h.U32(56);
  h.U32(1000000 / l.rate);                                       // dwMicroSecPerFrame
  h.U32(picture * l.rate + s.bytes_per_second());                // dwMaxBytesPerSec
  h.U32(0);                                                      // dwPaddingGranularity
  h.U32(AVIF_HASINDEX | AVIF_ISINTERLEAVED);                     // dwFlags
  h.U32(frames);                                                 // dwTotalFrames
  h.U32(0);                                                      // dwInitialFrames
  h.U32(2);                                                      // dwStreams
  h.U32(picture + max_sound_chunk + 2 * kChunkHeader);           // dwSuggestedBufferSize
  h.U32(static_cast<std::uint32_t>(l.width));                    // dwWidth
  h.U32(static_cast<std::uint32_t>(l.height));                   // dwHeight
  h.Zeros(16);                                                   // dwReserved[4]

  // The picture stream.
  h.Id("LIST");
  h.U32(4 + 8 + 56 + 8 + 40);
  h.Id("strl");
  h.Id("strh");
  h.U32(56);
  h.Id("vids");                                   // fccType
  h.Id("DIB ");                                   // fccHandler
  h.U32(0);                                       // dwFlags
  h.U16(0);                                       // wPriority
  h.U16(0);                                       // wLanguage
  h.U32(0);                                       // dwInitialFrames
  h.U32(1);                                       // dwScale
  h.U32(l.rate);                                  // dwRate
  h.U32(0);                                       // dwStart
  h.U32(frames);                                  // dwLength
  h.U32(picture);                                 // dwSuggestedBufferSize
  h.U32(0xFFFFFFFF);                              // dwQuality
  h.U32(0);                                       // dwSampleSize
  h.U16(0);                                       // rcFrame
  h.U16(0);
  h.U16(static_cast<std::uint16_t>(l.width));
  h.U16(static_cast<std::uint16_t>(l.height));
  h.Id("strf");
  h.U32(40);
  h.U32(40);                                      // biSize
  h.U32(static_cast<std::uint32_t>(l.width));     // biWidth
  h.U32(static_cast<std::uint32_t>(l.height));    // biHeight: positive, bottom-up
  h.U16(1);                                       // biPlanes
  h.U16(24);                                      // biBitCount
  h.U32(BI_RGB);                                  // biCompression
  h.U32(picture);                                 // biSizeImage
  h.Zeros(16);                                    // resolution, colours used, important

  // The sound stream: one sample is one sample frame of the PCM format.
  h.Id("LIST");
  h.U32(4 + 8 + 56 + 8 + 16);
  h.Id("strl");
  h.Id("strh");
  h.U32(56);
  h.Id("auds");
  h.U32(0);                                       // fccHandler
  h.U32(0);
  h.U16(0);
  h.U16(0);
  h.U32(0);
  h.U32(s.block_align());                         // dwScale
  h.U32(s.bytes_per_second());                    // dwRate: scale / rate = 1 / sample rate
  h.U32(0);
  h.U32(static_cast<std::uint32_t>(sound_bytes / s.block_align()));  // dwLength in samples
  h.U32(max_sound_chunk);
  h.U32(0xFFFFFFFF);
  h.U32(s.block_align());                         // dwSampleSize
  h.Zeros(8);
  h.Id("strf");
  h.U32(16);
  h.U16(WAVE_FORMAT_PCM);                         // wFormatTag
  h.U16(s.channels);                              // nChannels
  h.U32(s.sample_rate());                         // nSamplesPerSec
  h.U32(s.bytes_per_second());                    // nAvgBytesPerSec
  h.U16(s.block_align());                         // nBlockAlign
  h.U16(s.bits);                                  // wBitsPerSample

  h.PatchU32(hdrl_size_at, static_cast<std::uint32_t>(h.size() - hdrl_size_at - 4));

  h.Id("LIST");
  h.U32(static_cast<std::uint32_t>(movi_bytes));
  h.Id("movi");
  return h;
}

}  // namespace

std::uint64_t AviFileBytes(const AviLayout& layout, std::uint64_t frames, std::uint64_t sound_bytes) {
  const std::uint64_t headers = Headers(layout, 0, 0, 0, 0, 0).size();
  const std::uint64_t per_frame = kChunkHeader + PictureBytes(layout) + kIndexEntryBytes +
                                  (sound_bytes ? kChunkHeader + sound_bytes + (sound_bytes & 1) +
                                                     kIndexEntryBytes
                                               : 0);
  return headers + kChunkHeader + frames * per_frame;
}

Status AviWriter::Open() {
  if (layout_.width <= 0 || layout_.height <= 0 || layout_.rate == 0) {
    return Status::Error("cannot write '" + out_.path() + "': bad picture size or rate");
  }
  Status s = out_.Open();
  if (!s.ok) return s;
  const LeBytes h = Headers(layout_, 0, 0, 0, 0, 0);
  movi_id_at_ = h.size() - 4;
  bottom_up_.resize(PictureBytes(layout_));
  return out_.Write(h.bytes());
}

Status AviWriter::WriteChunk(bool picture, std::span<const std::uint8_t> data) {
  const std::uint64_t end = out_.position() + kChunkHeader + data.size() + (data.size() & 1) +
                            kIndexEntryBytes * (index_.size() + 1);
  if (end > kMaxAviBytes) {
    return Status::Error("cannot write '" + out_.path() + "': the movie would pass 1 GiB");
  }
  LeBytes h;
  h.Id(picture ? "00dc" : "01wb");
  h.U32(static_cast<std::uint32_t>(data.size()));
  index_.push_back({picture, static_cast<std::uint32_t>(out_.position() - movi_id_at_),
                    static_cast<std::uint32_t>(data.size())});
  Status s = out_.Write(h.bytes());
  if (s.ok) s = out_.Write(data);
  if (s.ok && (data.size() & 1)) {
    const std::uint8_t pad = 0;
    s = out_.Write({&pad, 1});
  }
  return s;
}

Status AviWriter::AddFrame(std::span<const std::uint8_t> rgb, std::span<const std::uint8_t> sound) {
  const std::size_t w = static_cast<std::size_t>(layout_.width);
  const std::size_t hgt = static_cast<std::size_t>(layout_.height);
  if (rgb.size() != w * hgt * 3) {
    return Status::Error("cannot write '" + out_.path() + "': picture of the wrong size");
  }
  const std::size_t row = bottom_up_.size() / hgt;
  for (std::size_t y = 0; y < hgt; ++y) {
    const std::uint8_t* in = rgb.data() + y * w * 3;
    std::uint8_t* out = bottom_up_.data() + (hgt - 1 - y) * row;
    for (std::size_t x = 0; x < w; ++x) {
      out[3 * x] = in[3 * x + 2];
      out[3 * x + 1] = in[3 * x + 1];
      out[3 * x + 2] = in[3 * x];
    }
    std::memset(out + 3 * w, 0, row - 3 * w);
  }
  Status s = WriteChunk(true, bottom_up_);
  if (s.ok && !sound.empty()) {
    s = WriteChunk(false, sound);
    sound_bytes_ += sound.size();
    if (sound.size() > max_sound_chunk_) max_sound_chunk_ = static_cast<std::uint32_t>(sound.size());
  }
  if (s.ok) ++frames_;
  return s;
}

Status AviWriter::Finish() {
  const std::uint64_t movi_end = out_.position();
  LeBytes idx;
  idx.Id("idx1");
  idx.U32(static_cast<std::uint32_t>(index_.size() * kIndexEntryBytes));
  for (const IndexEntry& e : index_) {
    idx.Id(e.picture ? "00dc" : "01wb");
    idx.U32(AVIIF_KEYFRAME);
    idx.U32(e.offset);
    idx.U32(e.size);
  }
  Status s = out_.Write(idx.bytes());
  if (!s.ok) return s;
  const std::uint64_t file_end = out_.position();
  const LeBytes h = Headers(layout_, frames_, sound_bytes_, max_sound_chunk_, file_end - 8,
                            movi_end - movi_id_at_);
  s = out_.WriteAt(0, h.bytes());
  if (!s.ok) return s;
  return out_.Commit();
}

}  // namespace inspect
