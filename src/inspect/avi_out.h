// Writing an uncompressed AVI movie: 24-bit pictures and PCM sound.
//
// The file is one RIFF 'AVI ' list: 'hdrl' (the main header 'avih', a
// picture stream list with a BI_RGB 24-bit bitmap format and a sound stream
// list with a PCM format), 'movi' with one '00dc' picture chunk and one
// '01wb' sound chunk per frame, then the 'idx1' index. Pictures are stored
// bottom-up in BGR order, as BI_RGB wants.
//
// Contract: Open() writes the headers with zero counts; each AddFrame()
// appends one picture and its sound; Finish() writes the index, stores the
// real counts and sizes, and only then does the file appear under its name.
// The writer refuses (Status) to grow a file past kMaxAviBytes, since a
// plain RIFF file without the OpenDML extension is not read reliably beyond
// 1 GiB.
#ifndef KESTRIX_INSPECT_AVI_OUT_H_
#define KESTRIX_INSPECT_AVI_OUT_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "inspect/output_file.h"
#include "inspect/sound_format.h"

namespace inspect {

constexpr std::uint64_t kMaxAviBytes = 1ull << 30;

struct AviLayout {
  int width = 0;
  int height = 0;
  std::uint32_t rate = 9;  // frames a second
  SoundFormat sound;
};

// The size of the file AddFrame() x frames with `sound_bytes` each would
// make, for refusing long input before any work.
std::uint64_t AviFileBytes(const AviLayout& layout, std::uint64_t frames, std::uint64_t sound_bytes);

class AviWriter {
 public:
  AviWriter(std::string path, AviLayout layout) : out_(std::move(path)), layout_(layout) {}
  Status Open();
  // `rgb` is top-down RGB, width * height * 3 bytes; `sound` may be empty.
  Status AddFrame(std::span<const std::uint8_t> rgb, std::span<const std::uint8_t> sound);
  Status Finish();

 private:
  struct IndexEntry {
    bool picture;
    std::uint32_t offset;  // from the 'movi' identifier
    std::uint32_t size;
  };
  Status WriteChunk(bool picture, std::span<const std::uint8_t> data);

  OutputFile out_;
  AviLayout layout_;
  std::vector<std::uint8_t> bottom_up_;
  std::vector<IndexEntry> index_;
  std::uint32_t frames_ = 0;
  std::uint64_t sound_bytes_ = 0;
  std::uint32_t max_sound_chunk_ = 0;
  std::uint64_t movi_id_at_ = 0;  // file offset of the 'movi' identifier
};

}  // namespace inspect

#endif  // KESTRIX_INSPECT_AVI_OUT_H_
