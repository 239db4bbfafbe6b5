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

std::span<const std::uint8_t> ReadWindow::At(std::uint64_t pos, std::size_t n, std::uint64_t end) {
  end = std::min(end, file_.size());
  if (n > kBytes || pos > end || end - pos < n) return {};
  if (pos < pos_ || pos - pos_ + n > len_) {
    const std::size_t len = static_cast<std::size_t>(std::min<std::uint64_t>(kBytes, end - pos));
    len_ = 0;
    if (!file_.ReadAt(pos, std::span(bytes_).first(len))) return {};
    pos_ = pos;
    len_ = len;
  }
  return std::span(bytes_).subspan(static_cast<std::size_t>(pos - pos_), n);
}

ChunkWalker::ChunkWalker(const FileReader& file, std::uint64_t begin, std::uint64_t end)
    : window_(file), pos_(begin), end_(std::min(end, file.size())) {}

bool ChunkWalker::Next(Chunk* chunk) {
  if (stopped_ || pos_ > end_ || end_ - pos_ < kChunkHeaderSize) return false;
  const bool has_type = end_ - pos_ >= 12;
  const std::span<const std::uint8_t> head = window_.At(pos_, has_type ? 12 : 8, end_);
  if (head.empty()) {
    stopped_ = true;
    return false;
  }
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
