// Reading a sound stream by sample position.
//
// A sound stream's samples are spread over chunks of varying sizes.
// SoundReader keeps each chunk's starting byte in the stream (a running
// total) and finds the chunk of a position by binary search, with a cursor
// so that consecutive reads do not search at all. The stream ends where its
// chunks' bytes end, whatever the stream header's length says.
//
// The reader borrows the FileReader and the StreamIndex; both outlive it.
#ifndef KESTRIX_AVI_SOUND_READER_H_
#define KESTRIX_AVI_SOUND_READER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "avi/file_reader.h"
#include "avi/stream_index.h"

namespace avi {

enum class SoundStatus {
  kOk,
  kBadParam,        // negative start, or no sample size
  kBufferTooSmall,  // the buffer cannot hold one sample
  kReadError,       // the file could not be read
};

struct SoundRead {
  SoundStatus status = SoundStatus::kOk;
  std::int64_t bytes = 0;
  std::int64_t samples = 0;
};

class SoundReader {
 public:
  // `sample_size` is the bytes of one sample (strh dwSampleSize, or the
  // format's block alignment when that is 0).
  SoundReader(const FileReader& file, const StreamIndex& index, std::uint32_t sample_size);

  std::uint32_t sample_size() const { return sample_size_; }
  // Whole samples the chunks hold.
  std::int64_t total_samples() const;

  // Reads as many whole samples from `start` as `count`, the buffer and the
  // stream's end allow. A start at or past the end reads nothing and is kOk.
  // An empty `buffer` (null) only reports what would be read.
  SoundRead Read(std::int64_t start, std::int64_t count, std::span<std::uint8_t> buffer,
                 bool size_only);

 private:
  // The chunk holding stream byte `pos` (< total bytes).
  std::size_t ChunkOf(std::uint64_t pos);

  const FileReader& file_;
  const StreamIndex& index_;
  std::uint32_t sample_size_;
  std::vector<std::uint64_t> starts_;  // starts_[i]: first byte of chunk i; back(): total
  std::size_t cursor_ = 0;
};

}  // namespace avi

#endif  // KESTRIX_AVI_SOUND_READER_H_
