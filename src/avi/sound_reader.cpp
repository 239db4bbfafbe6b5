#include "avi/sound_reader.h"

#include <algorithm>

namespace avi {

SoundReader::SoundReader(const FileReader& file, const StreamIndex& index,
                         std::uint32_t sample_size)
    : file_(file), index_(index), sample_size_(sample_size) {
  starts_.reserve(index.chunks.size() + 1);
  std::uint64_t total = 0;
  for (const ChunkEntry& c : index.chunks) {
    starts_.push_back(total);
    total += c.size;
  }
  starts_.push_back(total);
}

std::int64_t SoundReader::total_samples() const {
  if (sample_size_ == 0) return 0;
  return static_cast<std::int64_t>(starts_.back() / sample_size_);
}

std::size_t SoundReader::ChunkOf(std::uint64_t pos) {
  // The cursor chunk, or the one after it, serve consecutive reads.
  for (std::size_t c = cursor_; c < cursor_ + 2 && c + 1 < starts_.size(); ++c) {
    if (starts_[c] <= pos && pos < starts_[c + 1]) return cursor_ = c;
  }
  auto it = std::upper_bound(starts_.begin(), starts_.end(), pos);
  cursor_ = static_cast<std::size_t>(it - starts_.begin()) - 1;
  return cursor_;
}

SoundRead SoundReader::Read(std::int64_t start, std::int64_t count,
                            std::span<std::uint8_t> buffer, bool size_only) {
  SoundRead r;
  if (start < 0 || sample_size_ == 0) {
    r.status = SoundStatus::kBadParam;
    return r;
  }
  const std::int64_t total = total_samples();
  if (start >= total || count <= 0) return r;
  std::int64_t n = std::min(count, total - start);
  if (!size_only) {
    const std::int64_t fit = static_cast<std::int64_t>(buffer.size() / sample_size_);
    if (fit == 0) {
      r.status = SoundStatus::kBufferTooSmall;
      return r;
    }
    n = std::min(n, fit);
  }
  const std::uint64_t want = static_cast<std::uint64_t>(n) * sample_size_;
  if (!size_only) {
    std::uint64_t pos = static_cast<std::uint64_t>(start) * sample_size_;
    std::uint64_t done = 0;
    while (done < want) {
      const std::size_t c = ChunkOf(pos);
      const ChunkEntry& e = index_.chunks[c];
      const std::uint64_t skip = pos - starts_[c];
      const std::uint64_t take = std::min<std::uint64_t>(e.size - skip, want - done);
      if (!file_.ReadAt(e.offset + skip, buffer.subspan(done, take))) {
        r.status = SoundStatus::kReadError;
        return r;
      }
      done += take;
      pos += take;
    }
  }
  r.bytes = static_cast<std::int64_t>(want);
  r.samples = n;
  return r;
}

}  // namespace avi
