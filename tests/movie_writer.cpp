#include "tests/movie_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace test_movies {
namespace {

constexpr std::uint32_t FourCc(const char (&s)[5]) {
  return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 8 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 16 |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24;
}

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAviifKeyFrame = 0x10;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiBitfields = 3;

// Appends little-endian fields and keeps the chunks it opens.
class Bytes {
 public:
  std::vector<std::uint8_t> data;

  void U8(std::uint8_t v) { data.push_back(v); }
  void U16(std::uint32_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void Id(const char (&s)[5]) { U32(FourCc(s)); }
  std::size_t pos() const { return data.size(); }

  // Opens a chunk; returns where its header is.
  std::size_t Begin(const char (&id)[5]) {
    std::size_t at = pos();
    Id(id);
    U32(0);
    return at;
  }
  std::size_t BeginList(const char (&id)[5], const char (&type)[5]) {
    std::size_t at = Begin(id);
    Id(type);
    return at;
  }
  // Closes the chunk opened at `at`: writes its size, then the pad byte.
  void End(std::size_t at) {
    std::uint32_t size = static_cast<std::uint32_t>(pos() - at - 8);
    Patch32(at + 4, size);
    if (size & 1) U8(0);
  }
  void Patch32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

int BitCount(PixelLayout l) {
  switch (l) {
    case PixelLayout::kBottomUp24:
    case PixelLayout::kTopDown24: return 24;
    case PixelLayout::kPalette8: return 8;
    case PixelLayout::kRgb555:
    case PixelLayout::kRgb565: return 16;
    case PixelLayout::kRgb32: return 32;
  }
  return 24;
}

std::uint32_t Stride(const MovieOptions& o) {
  return ((static_cast<std::uint32_t>(o.width) * BitCount(o.layout) + 31) / 32) * 4;
}

Bgr PaletteEntry(int i) {
  return {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
          static_cast<std::uint8_t>(i * 5)};
}

int PaletteIndex(int f, int x, int y) { return (x + 3 * y + 7 * f) & 0xFF; }

Bgr BaseColour(int f, int x, int y) {
  return {static_cast<std::uint8_t>(x * 2 + f * 17),
          static_cast<std::uint8_t>(y * 3 + f * 29),
          static_cast<std::uint8_t>((x ^ (y * 7)) + f * 41)};
}

std::uint8_t Expand5(std::uint8_t v8) {
  std::uint8_t v = v8 >> 3;
  return static_cast<std::uint8_t>(v << 3 | v >> 2);
}
std::uint8_t Expand6(std::uint8_t v8) {
  std::uint8_t v = v8 >> 2;
  return static_cast<std::uint8_t>(v << 2 | v >> 4);
}

bool IsDropped(const MovieOptions& o, int f) {
  return std::find(o.drop_frames.begin(), o.drop_frames.end(), f) != o.drop_frames.end();
}

// Writes frame f's rows in the stream's own layout.
void WritePicture(const MovieOptions& o, int f, Bytes& out) {
  const std::uint32_t stride = Stride(o);
  const bool top_down = o.layout == PixelLayout::kTopDown24;
  for (int r = 0; r < o.height; ++r) {
    const int y = top_down ? r : o.height - 1 - r;
    const std::size_t row_start = out.pos();
    for (int x = 0; x < o.width; ++x) {
      switch (o.layout) {
        case PixelLayout::kBottomUp24:
        case PixelLayout::kTopDown24: {
          Bgr c = BaseColour(f, x, y);
          out.U8(c.b), out.U8(c.g), out.U8(c.r);
          break;
        }
        case PixelLayout::kPalette8: out.U8(static_cast<std::uint8_t>(PaletteIndex(f, x, y))); break;
        case PixelLayout::kRgb555: {
          Bgr c = BaseColour(f, x, y);
          out.U16((c.r >> 3) << 10 | (c.g >> 3) << 5 | (c.b >> 3));
          break;
        }
        case PixelLayout::kRgb565: {
          Bgr c = BaseColour(f, x, y);
          out.U16((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
          break;
        }
        case PixelLayout::kRgb32: {
          Bgr c = BaseColour(f, x, y);
          out.U8(c.b), out.U8(c.g), out.U8(c.r), out.U8(0);
          break;
        }
      }
    }
    while (out.pos() - row_start < stride) out.U8(0);
  }
}

void WriteOddChunks(Bytes& out) {
  std::size_t junk = out.Begin("JUNK");
  out.U8(1), out.U8(2), out.U8(3);
  out.End(junk);
  std::size_t other = out.Begin("zzzz");
  for (int i = 0; i < 5; ++i) out.U8(static_cast<std::uint8_t>(0xA0 + i));
  out.End(other);
}

void WriteStreamHeader(Bytes& out, const char (&type)[5], std::uint32_t handler,
                       std::uint32_t scale, std::uint32_t rate, std::uint32_t length,
                       std::uint32_t buffer, std::uint32_t sample_size, int w, int h) {
  std::size_t at = out.Begin("strh");
  out.Id(type);
  out.U32(handler);
  out.U32(0);                 // dwFlags
  out.U16(0), out.U16(0);     // wPriority, wLanguage
  out.U32(0);                 // dwInitialFrames
  out.U32(scale);
  out.U32(rate);
  out.U32(0);                 // dwStart
  out.U32(length);
  out.U32(buffer);
  out.U32(0xFFFFFFFF);        // dwQuality
  out.U32(sample_size);
  out.U16(0), out.U16(0), out.U16(static_cast<std::uint32_t>(w)),
      out.U16(static_cast<std::uint32_t>(h));  // rcFrame
  out.End(at);
}

void WriteName(Bytes& out, const char* name) {
  std::size_t at = out.Begin("strn");
  for (const char* p = name; *p; ++p) out.U8(static_cast<std::uint8_t>(*p));
  out.U8(0);
  out.End(at);
}

struct SuperEntry {
  std::uint64_t offset;  // of the ix## chunk's header
  std::uint32_t size;    // of the whole chunk
  std::uint32_t duration;
};

struct IndexEntry {
  std::uint32_t id;
  std::size_t header_pos;
  std::uint32_t size;
};

// An indx super index with room for `entries` entries, filled in later.
std::size_t WriteSuperIndex(Bytes& out, const char (&id)[5], int entries) {
  std::size_t at = out.Begin("indx");
  out.U16(4);
  out.U8(0);  // bIndexSubType
  out.U8(0);  // bIndexType: of indexes
  out.U32(static_cast<std::uint32_t>(entries));
  out.Id(id);
  out.U32(0), out.U32(0), out.U32(0);
  for (int i = 0; i < entries * 4; ++i) out.U32(0);
  out.End(at);
  return at;
}

}  // namespace

int SoundBlockAlign(const MovieOptions& o) { return o.sound.channels * (o.sound.bits / 8); }

std::uint64_t SoundTotalSamples(const MovieOptions& o) {
  if (!o.with_sound) return 0;
  return o.sound.total_samples ? *o.sound.total_samples
                               : static_cast<std::uint64_t>(o.frames) * 980;
}

std::uint8_t SoundByte(std::uint64_t k) {
  return static_cast<std::uint8_t>(k * 7 + (k >> 8) * 3 + (k >> 16));
}

std::vector<std::uint8_t> ExpectedSound(const MovieOptions& o, std::uint64_t first,
                                        std::uint64_t count) {
  std::vector<std::uint8_t> out;
  const std::uint64_t total = SoundTotalSamples(o);
  if (first >= total) return out;
  const std::uint64_t n = std::min(count, total - first);
  const std::uint64_t align = static_cast<std::uint64_t>(SoundBlockAlign(o));
  out.reserve(n * align);
  for (std::uint64_t k = first * align; k < (first + n) * align; ++k) out.push_back(SoundByte(k));
  return out;
}

Bgr ContentPixel(const MovieOptions& o, int f, int x, int y) {
  Bgr c = BaseColour(f, x, y);
  switch (o.layout) {
    case PixelLayout::kPalette8: return PaletteEntry(PaletteIndex(f, x, y));
    case PixelLayout::kRgb555: return {Expand5(c.b), Expand5(c.g), Expand5(c.r)};
    case PixelLayout::kRgb565: return {Expand5(c.b), Expand6(c.g), Expand5(c.r)};
    default: return c;
  }
}

int ShownFrame(const MovieOptions& o, int f) {
  while (f >= 0 && IsDropped(o, f)) --f;
  return f;
}

Bgr ExpectedPixel(const MovieOptions& o, int f, int x, int y) {
  return ContentPixel(o, ShownFrame(o, f), x, y);
}

std::vector<std::uint8_t> WriteMovie(const MovieOptions& o) {
  const int bits = BitCount(o.layout);
  const std::uint32_t stride = Stride(o);
  const std::uint32_t image_size = stride * static_cast<std::uint32_t>(o.height);
  const std::uint32_t align = static_cast<std::uint32_t>(SoundBlockAlign(o));
  const std::uint64_t total_samples = SoundTotalSamples(o);
  const int streams = o.with_sound ? 2 : 1;
  std::uint32_t max_sound_chunk = 0;
  for (auto s : o.sound.chunk_samples) max_sound_chunk = std::max(max_sound_chunk, s * align);

  Bytes out;
  std::size_t indx_at[2] = {0, 0};
  std::size_t total_frames_at = 0;
  int first_part_frames = 0;
  std::size_t riff = out.BeginList("RIFF", "AVI ");
  std::size_t hdrl = out.BeginList("LIST", "hdrl");
  {
    std::size_t avih = out.Begin("avih");
    out.U32(static_cast<std::uint32_t>(1000000ull * o.scale / std::max<std::uint32_t>(o.rate, 1)));
    out.U32(image_size * o.rate / std::max<std::uint32_t>(o.scale, 1));  // dwMaxBytesPerSec
    out.U32(0);                                                          // dwPaddingGranularity
    out.U32(o.index == IndexKind::kNone ? 0 : kAvifHasIndex);
    total_frames_at = out.pos();
    out.U32(static_cast<std::uint32_t>(o.frames));
    out.U32(0);  // dwInitialFrames
    out.U32(static_cast<std::uint32_t>(streams));
    out.U32(std::max(image_size, max_sound_chunk) + 8);
    out.U32(static_cast<std::uint32_t>(o.width));
    out.U32(static_cast<std::uint32_t>(o.height));
    for (int i = 0; i < 4; ++i) out.U32(0);
    out.End(avih);
  }
  if (o.odd_chunks) WriteOddChunks(out);
  {
    std::size_t strl = out.BeginList("LIST", "strl");
    WriteStreamHeader(out, "vids", FourCc("DIB "), o.scale, o.rate,
                      static_cast<std::uint32_t>(o.frames), image_size, 0, o.width, o.height);
    std::size_t strf = out.Begin("strf");
    out.U32(40);
    out.U32(static_cast<std::uint32_t>(o.width));
    out.U32(static_cast<std::uint32_t>(o.layout == PixelLayout::kTopDown24 ? -o.height : o.height));
    out.U16(1);
    out.U16(static_cast<std::uint32_t>(bits));
    out.U32(o.layout == PixelLayout::kRgb565 ? kBiBitfields : kBiRgb);
    out.U32(image_size);
    out.U32(0), out.U32(0);
    out.U32(o.layout == PixelLayout::kPalette8 ? 256 : 0);  // biClrUsed
    out.U32(0);
    if (o.layout == PixelLayout::kPalette8) {
      for (int i = 0; i < 256; ++i) {
        Bgr c = PaletteEntry(i);
        out.U8(c.b), out.U8(c.g), out.U8(c.r), out.U8(0);
      }
    } else if (o.layout == PixelLayout::kRgb565) {
      out.U32(0xF800), out.U32(0x07E0), out.U32(0x001F);
    }
    out.End(strf);
    WriteName(out, "pictures");
    if (o.odml_parts > 0) indx_at[0] = WriteSuperIndex(out, "00dc", o.odml_parts);
    out.End(strl);
  }
  if (o.with_sound) {
    std::size_t strl = out.BeginList("LIST", "strl");
    WriteStreamHeader(out, "auds", 0, align, o.sound.rate * align,
                      static_cast<std::uint32_t>(total_samples), max_sound_chunk,
                      o.sound.zero_sample_size ? 0 : align, 0, 0);
    std::size_t strf = out.Begin("strf");
    out.U16(1);  // PCM
    out.U16(static_cast<std::uint32_t>(o.sound.channels));
    out.U32(o.sound.rate);
    out.U32(o.sound.rate * align);
    out.U16(align);
    out.U16(static_cast<std::uint32_t>(o.sound.bits));
    out.End(strf);
    WriteName(out, "sound");
    if (o.odml_parts > 0) indx_at[1] = WriteSuperIndex(out, "01wb", o.odml_parts);
    out.End(strl);
  }
  if (o.odml_parts > 0) {
    std::size_t odml = out.BeginList("LIST", "odml");
    std::size_t dmlh = out.Begin("dmlh");
    out.U32(static_cast<std::uint32_t>(o.frames));
    out.End(dmlh);
    out.End(odml);
  }
  out.End(hdrl);
  if (o.odd_chunks) WriteOddChunks(out);

  std::vector<IndexEntry> index;       // idx1: the first part's chunks
  std::vector<IndexEntry> part_chunks;  // the current part's chunks
  std::vector<SuperEntry> super[2];     // per stream: its ix## chunks
  std::uint64_t sound_written = 0;
  std::size_t sound_chunk_no = 0;
  auto record = [&](const char (&id)[5], std::size_t at, std::uint32_t size) {
    part_chunks.push_back({FourCc(id), at, size});
  };
  auto write_sound_until = [&](std::uint64_t target) {
    const auto& sizes = o.sound.chunk_samples;
    if (sizes.empty() || std::all_of(sizes.begin(), sizes.end(), [](auto s) { return s == 0; }))
      return;
    while (sound_written < target) {
      std::uint64_t n = std::min<std::uint64_t>(sizes[sound_chunk_no++ % sizes.size()],
                                                total_samples - sound_written);
      std::size_t at = out.Begin("01wb");
      for (std::uint64_t k = sound_written * align; k < (sound_written + n) * align; ++k)
        out.U8(SoundByte(k));
      out.End(at);
      record("01wb", at, static_cast<std::uint32_t>(n * align));
      sound_written += n;
    }
  };
  // One ix## chunk of `stream`'s chunks in this part; base: the movi list.
  auto write_std_index = [&](int stream, std::size_t movi_at) {
    const std::uint32_t id = stream == 0 ? FourCc("00dc") : FourCc("01wb");
    std::vector<const IndexEntry*> mine;
    for (const IndexEntry& e : part_chunks)
      if (e.id == id) mine.push_back(&e);
    std::size_t at = out.Begin(stream == 0 ? "ix00" : "ix01");
    out.U16(2);
    out.U8(0);  // bIndexSubType
    out.U8(1);  // bIndexType: of chunks
    out.U32(static_cast<std::uint32_t>(mine.size()));
    out.U32(id);
    out.U32(static_cast<std::uint32_t>(movi_at)), out.U32(0);  // qwBaseOffset
    out.U32(0);
    std::uint32_t duration = 0;
    for (const IndexEntry* e : mine) {
      std::uint32_t rel = static_cast<std::uint32_t>(e->header_pos + 8 - movi_at);
      if (stream == 0 && o.odml_damage == OdmlDamage::kWrongOffsets) rel += 3;
      out.U32(rel);
      out.U32(e->size);
      duration += stream == 0 ? 1 : e->size / align;
    }
    out.End(at);
    super[stream].push_back({at, static_cast<std::uint32_t>(out.pos() - at), duration});
  };

  const int parts = std::max(o.odml_parts, 1);
  std::size_t first_movi_type_pos = 0;
  std::size_t part_riff = riff;
  for (int p = 0; p < parts; ++p) {
    if (p > 0) part_riff = out.BeginList("RIFF", "AVIX");
    std::size_t movi = out.BeginList("LIST", "movi");
    if (p == 0) first_movi_type_pos = movi + 8;
    part_chunks.clear();
    const int f_begin = o.frames * p / parts, f_end = o.frames * (p + 1) / parts;
    for (int f = f_begin; f < f_end; ++f) {
      if (o.odd_chunks) WriteOddChunks(out);
      std::size_t rec = o.rec_lists ? out.BeginList("LIST", "rec ") : 0;
      std::size_t at = out.Begin("00dc");
      if (!IsDropped(o, f)) WritePicture(o, f, out);
      out.End(at);
      record("00dc", at, static_cast<std::uint32_t>(out.pos() - at - 8));
      if (o.with_sound) write_sound_until(total_samples * static_cast<std::uint64_t>(f + 1) / o.frames);
      if (o.rec_lists) out.End(rec);
    }
    if (o.with_sound && o.frames == 0) write_sound_until(total_samples);
    if (o.odml_parts > 0) {
      write_std_index(0, movi);
      if (o.with_sound) write_std_index(1, movi);
    }
    out.End(movi);
    if (p == 0) {
      index = part_chunks;
      first_part_frames = f_end - f_begin;
      if (o.index != IndexKind::kNone) {
        std::size_t idx1 = out.Begin("idx1");
        for (const IndexEntry& e : index) {
          out.U32(e.id);
          out.U32(kAviifKeyFrame);
          std::size_t offset = o.index == IndexKind::kIdx1Relative ? e.header_pos - first_movi_type_pos
                                                                   : e.header_pos;
          if (o.index_damage == IndexDamage::kWrongOffsets) offset += 3;
          out.U32(static_cast<std::uint32_t>(offset));
          out.U32(e.size);
        }
        out.End(idx1);
        if (o.index_damage == IndexDamage::kHugeCount) out.Patch32(idx1 + 4, 0x7FFFFFF0);
      }
    }
    out.End(part_riff);
  }

  // Fill in the super indexes and the first part's frame count.
  if (o.odml_parts > 0) {
    out.Patch32(total_frames_at, static_cast<std::uint32_t>(first_part_frames));
    for (int stream = 0; stream < streams; ++stream) {
      std::size_t at = indx_at[stream] + 8 + 24;
      for (std::size_t i = 0; i < super[stream].size(); ++i, at += 16) {
        std::uint64_t offset = super[stream][i].offset;
        if (stream == 0 && i == 0 && o.odml_damage == OdmlDamage::kSelfLoop) offset = indx_at[stream];
        out.Patch32(at, static_cast<std::uint32_t>(offset));
        out.Patch32(at + 4, static_cast<std::uint32_t>(offset >> 32));
        out.Patch32(at + 8, super[stream][i].size);
        out.Patch32(at + 12, super[stream][i].duration);
      }
    }
  }

  if (o.truncate_at && *o.truncate_at < out.data.size()) out.data.resize(*o.truncate_at);
  return std::move(out.data);
}

bool WriteMovieFile(const MovieOptions& options, const std::string& path) {
  std::vector<std::uint8_t> bytes = WriteMovie(options);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

}  // namespace test_movies
