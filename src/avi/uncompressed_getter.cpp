// The getter for uncompressed pictures (BI_RGB, BI_BITFIELDS, 'DIB ').
//
// 24-bit streams come out as packed bottom-up 24-bit bitmaps; top-down
// streams (negative biHeight) are flipped as they are read: each stored row
// is read straight into its bottom-up place, with no second copy. 1/4/8-bit (palette), 16- and
// 32-bit streams come out in their own format: a 40-byte header with a
// positive biHeight, the colour table or bit-field masks from strf, then
// bottom-up rows. The frame buffer is allocated once, when the getter opens.
#include <algorithm>
#include <cstring>
#include <limits>

#include "avi/frame_getter.h"
#include "avi/riff.h"

namespace avi {
namespace {

constexpr std::uint32_t kDibFourCc = FourCc('D', 'I', 'B', ' ');
constexpr std::uint32_t kHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr std::uint32_t kBitfieldMasksSize = 12;
constexpr std::int64_t kMaxDimension = 32768;
constexpr std::uint64_t kMaxImageBytes = 64u << 20;

class UncompressedGetter final : public FrameGetter {
 public:
  UncompressedGetter(const PictureStream& s, std::vector<std::uint8_t> buffer,
                     std::size_t rows_at, std::uint32_t stride, std::uint32_t rows,
                     bool top_down)
      : file_(*s.file), index_(*s.index), buffer_(std::move(buffer)), rows_at_(rows_at),
        stride_(stride), rows_(rows), top_down_(top_down) {
    if (top_down_) {
      // Stored row k (from the top) is bitmap row rows - 1 - k (from the bottom).
      std::uint8_t* first = buffer_.data() + rows_at_;
      for (std::uint32_t k = 0; k < rows_; ++k) {
        row_pieces_.emplace_back(first + std::size_t{rows_ - 1 - k} * stride_, stride_);
      }
    }
    // For each frame, the chunk whose picture it shows: itself, or for an
    // empty (drop) chunk the last non-empty one before it.
    shown_.resize(index_.chunks.size());
    std::int64_t last = -1;
    for (std::size_t i = 0; i < shown_.size(); ++i) {
      if (index_.chunks[i].size != 0) last = static_cast<std::int64_t>(i);
      shown_[i] = last;
    }
  }

  const std::uint8_t* Get(std::int32_t i) override {
    if (i < 0 || static_cast<std::size_t>(i) >= shown_.size()) return nullptr;
    const std::int64_t source = shown_[static_cast<std::size_t>(i)];
    if (source < 0) return nullptr;
    if (source == decoded_) return buffer_.data();
    const ChunkEntry& c = index_.chunks[static_cast<std::size_t>(source)];
    const std::size_t image = std::size_t{stride_} * rows_;
    decoded_ = -1;
    if (c.size < image) return nullptr;  // a short chunk: not a whole picture
    const bool read = top_down_ ? file_.ReadPiecesAt(c.offset, row_pieces_)
                                : file_.ReadAt(c.offset, {buffer_.data() + rows_at_, image});
    if (!read) return nullptr;
    decoded_ = source;
    return buffer_.data();
  }

 private:
  const FileReader& file_;
  const StreamIndex& index_;
  std::vector<std::uint8_t> buffer_;  // header, colour table, rows
  std::size_t rows_at_;
  std::uint32_t stride_;
  std::uint32_t rows_;
  bool top_down_;
  std::vector<std::span<std::uint8_t>> row_pieces_;  // top-down: the rows in stored order
  std::vector<std::int64_t> shown_;
  std::int64_t decoded_ = -1;  // the chunk whose picture the buffer holds
};

}  // namespace

std::unique_ptr<FrameGetter> OpenUncompressedGetter(const PictureStream& s, std::string* why) {
  auto fail = [why](std::string text) -> std::unique_ptr<FrameGetter> {
    if (why) *why = std::move(text);
    return nullptr;
  };
  if (!s.file || !s.index) return fail("the picture stream has no data");
  const BITMAPINFOHEADER& h = s.header;
  if (s.format.size() < kHeaderSize || h.biSize < kHeaderSize || h.biSize > s.format.size())
    return fail("the picture format is shorter than a bitmap header");
  const bool bitfields = h.biCompression == BI_BITFIELDS;
  if (h.biCompression != BI_RGB && !bitfields && h.biCompression != kDibFourCc)
    return fail("the pictures are compressed ('" + FourCcText(h.biCompression) + "')");

  const int bits = h.biBitCount;
  const bool palette = bits == 1 || bits == 4 || bits == 8;
  if (!palette && bits != 16 && bits != 24 && bits != 32)
    return fail(std::to_string(bits) + "-bit uncompressed pictures are not supported");
  if (bitfields && bits != 16 && bits != 32) return fail("bit-field masks on a " + std::to_string(bits) + "-bit picture");

  const std::int64_t width = h.biWidth;
  const std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
    return fail("the picture size " + std::to_string(h.biWidth) + "x" + std::to_string(h.biHeight) +
                " is not usable");
  const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
  const std::uint64_t image = stride * static_cast<std::uint64_t>(height);
  if (image > kMaxImageBytes) return fail("the pictures are too large");

  // What follows the header in the frame: the colour table or the masks.
  std::span<const std::uint8_t> extra;
  std::uint32_t colours = 0;
  if (palette) {
    const std::uint32_t max_colours = 1u << bits;
    colours = h.biClrUsed == 0 ? max_colours : std::min(h.biClrUsed, max_colours);
    const std::size_t table = std::size_t{colours} * 4;
    if (s.format.size() - h.biSize < table) return fail("the picture format lacks its colour table");
    extra = s.format.subspan(h.biSize, table);
  } else if (bitfields) {
    // The masks follow the 40-byte header (inside larger headers, too).
    if (s.format.size() < kHeaderSize + kBitfieldMasksSize) return fail("the picture format lacks its bit-field masks");
    extra = s.format.subspan(kHeaderSize, kBitfieldMasksSize);
  }

  const std::size_t rows_at = kHeaderSize + extra.size();
  std::vector<std::uint8_t> buffer(rows_at + image);
  BITMAPINFOHEADER out{};
  out.biSize = kHeaderSize;
  out.biWidth = static_cast<LONG>(width);
  out.biHeight = static_cast<LONG>(height);
  out.biPlanes = 1;
  out.biBitCount = static_cast<WORD>(bits);
  out.biCompression = bitfields ? BI_BITFIELDS : BI_RGB;
  out.biSizeImage = static_cast<DWORD>(image);
  out.biXPelsPerMeter = h.biXPelsPerMeter;
  out.biYPelsPerMeter = h.biYPelsPerMeter;
  out.biClrUsed = palette ? colours : 0;
  out.biClrImportant = palette ? std::min(h.biClrImportant, colours) : 0;
  std::memcpy(buffer.data(), &out, kHeaderSize);
  if (!extra.empty()) std::memcpy(buffer.data() + kHeaderSize, extra.data(), extra.size());

  if (why) why->clear();
  return std::make_unique<UncompressedGetter>(s, std::move(buffer), rows_at,
                                              static_cast<std::uint32_t>(stride),
                                              static_cast<std::uint32_t>(height), h.biHeight < 0);
}

}  // namespace avi
