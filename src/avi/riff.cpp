#include "avi/riff.h"

#include <algorithm>

namespace avi {

std::string FourCcText(std::uint32_t id) {
  std::string s(4, '?');
  for (int i = 0; i < 4; ++i) {
    char c = static_cast<char>((id >> (8 * i)) & 0xFF);
    if (c >= 0x20 && c < 0x7F) s[i] = c;
  }
  return s;
}

ChunkWalker::ChunkWalker(const FileReader& file, std::uint64_t begin, std::uint64_t end)
    : file_(file), pos_(begin), end_(std::min(end, file.size())) {}

bool ChunkWalker::Next(Chunk* chunk) {
  if (stopped_ || pos_ > end_ || end_ - pos_ < kChunkHeaderSize) return false;
  const bool has_type = end_ - pos_ >= 12;
  const std::size_t need = has_type ? 12 : 8;
  if (pos_ < window_pos_ || pos_ - window_pos_ + need > window_len_) {
    const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, end_ - pos_));
    window_len_ = 0;
    if (!file_.ReadAt(pos_, std::span(window_).first(len))) {
      stopped_ = true;
      return false;
    }
    window_pos_ = pos_;
    window_len_ = len;
  }
  const std::span<const std::uint8_t> head =
      std::span(window_).subspan(static_cast<std::size_t>(pos_ - window_pos_), need);
  Chunk c;
  c.id = Le32(head, 0);
  c.size = Le32(head, 4);
  c.offset = pos_;
  c.limit = end_;
  if ((c.id == kRiffId || c.id == kListId) && c.size >= 4 && has_type) c.list_type = Le32(head, 8);
  *chunk = c;
  if (!c.complete()) stopped_ = true;
  pos_ = c.next();  // at least 8 bytes on
  return true;
}

}  // namespace avi
