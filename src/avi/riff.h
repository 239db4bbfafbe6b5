// RIFF chunk walking over a FileReader.
//
// A RIFF file is a tree of chunks: an 8-byte header (four-character id,
// 32-bit little-endian size) followed by that many data bytes and a pad byte
// when the size is odd. 'RIFF' and 'LIST' chunks start their data with a
// four-character type and hold further chunks.
//
// ChunkWalker lists the chunks between two file positions. It never trusts a
// size: a chunk whose data runs past the walker's end is still reported, with
// complete() false, and the walk stops after it. Every step moves forward by
// at least the 8-byte header, so a walk always ends. Headers are read through
// a small window, so that a stretch of tiny chunks (millions of empty JUNK
// chunks, say) costs one read per few hundred of them rather than one each.
#ifndef KESTRIX_AVI_RIFF_H_
#define KESTRIX_AVI_RIFF_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "avi/file_reader.h"

namespace avi {

constexpr std::uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24;
}

// "abcd" for an id, with unprintable bytes shown as '?'.
std::string FourCcText(std::uint32_t id);

// Little-endian fields from a byte span; the caller checks the length.
inline std::uint16_t Le16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}
inline std::uint32_t Le32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
         static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
inline std::uint64_t Le64(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint64_t>(Le32(b, at)) | static_cast<std::uint64_t>(Le32(b, at + 4)) << 32;
}

constexpr std::uint32_t kRiffId = FourCc('R', 'I', 'F', 'F');
constexpr std::uint32_t kListId = FourCc('L', 'I', 'S', 'T');
constexpr std::uint32_t kChunkHeaderSize = 8;

struct Chunk {
  std::uint32_t id = 0;
  std::uint32_t size = 0;       // as the header says
  std::uint64_t offset = 0;     // of the header
  std::uint32_t list_type = 0;  // for RIFF and LIST chunks of 4+ bytes; else 0
  std::uint64_t limit = 0;      // the end of what holds the chunk

  std::uint64_t data() const { return offset + kChunkHeaderSize; }
  std::uint64_t data_end() const { return data() + size; }
  // The position after the chunk and its pad byte.
  std::uint64_t next() const { return data_end() + (size & 1); }
  // Its data lies wholly within what holds it (and so within the file).
  bool complete() const { return data_end() <= limit; }
  bool is_list() const { return (id == kRiffId || id == kListId) && size >= 4; }
  // Where the chunks inside a list start and end, cut at the limit.
  std::uint64_t children_begin() const { return data() + 4; }
  std::uint64_t children_end() const { return data_end() < limit ? data_end() : limit; }
};

// The last few KiB read from a file, so that small reads close together
// (chunk headers a few bytes or a few KiB apart) cost one positioned read
// between them rather than one each.
class ReadWindow {
 public:
  static constexpr std::size_t kBytes = 4096;

  explicit ReadWindow(const FileReader& file) : file_(file) {}

  // The n bytes at `pos` (n <= kBytes), which must lie before `end` (at most
  // the file's length). When the window does not hold them, up to kBytes
  // from `pos` (not past `end`) are read. Empty when they lie past `end` or
  // cannot be read. The span is valid until the next call.
  std::span<const std::uint8_t> At(std::uint64_t pos, std::size_t n, std::uint64_t end);

 private:
  const FileReader& file_;
  std::array<std::uint8_t, kBytes> bytes_;
  std::uint64_t pos_ = 0;  // bytes_ holds len_ bytes of the file from pos_
  std::size_t len_ = 0;
};

class ChunkWalker {
 public:
  // Walks [begin, end) of `file`; `end` is cut to the file's length.
  ChunkWalker(const FileReader& file, std::uint64_t begin, std::uint64_t end);

  // The next chunk; false at the end, after an incomplete chunk, or when a
  // header cannot be read.
  bool Next(Chunk* chunk);

 private:
  ReadWindow window_;
  std::uint64_t pos_;
  std::uint64_t end_;
  bool stopped_ = false;
};

}  // namespace avi

#endif  // KESTRIX_AVI_RIFF_H_
