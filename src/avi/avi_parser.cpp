#include "avi/avi_parser.h"

#include <algorithm>
#include <array>
#include <set>

namespace avi {
namespace {

constexpr std::uint32_t kHdrl = FourCc('h', 'd', 'r', 'l');
constexpr std::uint32_t kAvih = FourCc('a', 'v', 'i', 'h');
constexpr std::uint32_t kStrl = FourCc('s', 't', 'r', 'l');
constexpr std::uint32_t kStrh = FourCc('s', 't', 'r', 'h');
constexpr std::uint32_t kStrf = FourCc('s', 't', 'r', 'f');
constexpr std::uint32_t kStrn = FourCc('s', 't', 'r', 'n');
constexpr std::uint32_t kIndx = FourCc('i', 'n', 'd', 'x');
constexpr std::uint32_t kOdml = FourCc('o', 'd', 'm', 'l');
constexpr std::uint32_t kDmlh = FourCc('d', 'm', 'l', 'h');
constexpr std::uint32_t kMovi = FourCc('m', 'o', 'v', 'i');
constexpr std::uint32_t kRec = FourCc('r', 'e', 'c', ' ');
constexpr std::uint32_t kIdx1 = FourCc('i', 'd', 'x', '1');

constexpr std::uint32_t kAvihMinSize = 40;
constexpr std::uint32_t kStrhMinSize = 48;
constexpr std::uint32_t kStrhFullSize = 56;
constexpr std::uint32_t kMaxNameBytes = 256;

// idx1 entries: ckid, dwFlags, dwChunkOffset, dwChunkLength.
constexpr std::uint32_t kIdx1EntrySize = 16;
constexpr std::uint32_t kAviifList = 0x01;
constexpr std::uint32_t kAviifKeyFrame = 0x10;

// OpenDML index chunks (indx, ix##): wLongsPerEntry, bIndexSubType,
// bIndexType, nEntriesInUse, dwChunkId, then 12 bytes that depend on the
// type, then the entries.
constexpr std::uint32_t kOdmlHeaderSize = 24;
constexpr std::uint8_t kIndexOfIndexes = 0x00;
constexpr std::uint8_t kIndexOfChunks = 0x01;
constexpr std::uint32_t kSuperEntrySize = 16;  // qwOffset, dwSize, dwDuration
constexpr std::uint32_t kOdmlNotKeyFrame = 0x80000000u;
constexpr std::uint32_t kMaxStdIndexBytes = 32 << 20;

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

struct MoviList {
  std::uint64_t type_pos;  // position of the 'movi' type: idx1 offsets count from here
  std::uint64_t begin;
  std::uint64_t end;
};

// Shared by all streams: how many more index entries the movie may hold, and
// how many more bytes of OpenDML standard indexes may be read. Real standard
// indexes never overlap, so together they fit in the file; a super index
// whose entries point into one another (each at a different offset) would
// otherwise have the same bytes read over and over, thousands of times.
struct Budget {
  std::size_t entries_left = kMaxIndexEntries;
  std::uint64_t std_index_bytes_left = 0;
};

class Parser {
 public:
  Parser(const FileReader& file, Movie* movie) : file_(file), movie_(*movie), headers_(file) {}

  ParseResult Run();

 private:
  bool ReadChunkData(const Chunk& c, std::uint32_t max, std::vector<std::uint8_t>* out) {
    std::uint32_t n = std::min(c.size, max);
    out->assign(n, 0);
    return file_.ReadAt(c.data(), *out);
  }
  void ParsePart(const Chunk& riff, bool first);
  void ParseHdrl(const Chunk& hdrl);
  void ParseStrl(const Chunk& strl);
  void ParseOdml(const Chunk& odml);

  void ClearIndexes();
  bool BuildFromOpenDml();
  bool ReadOdmlIndex(std::span<const std::uint8_t> body, int stream, int depth,
                     std::set<std::uint64_t>* seen, StreamIndex* out);
  bool BuildFromIdx1();
  void BuildFromScan();
  void ScanList(std::uint64_t begin, std::uint64_t end, int depth, bool* stop);
  bool ChunkIsAt(std::uint64_t header_pos, std::uint32_t id, bool exact_id, std::uint32_t size);
  bool Add(std::uint64_t data_pos, std::uint32_t size, bool key, StreamIndex* to);
  std::size_t TotalEntries() const;

  const FileReader& file_;
  Movie& movie_;
  bool have_hdrl_ = false;
  bool have_avih_ = false;
  bool have_idx1_ = false;
  Chunk idx1_;
  std::vector<MoviList> movi_;
  Budget budget_;
  ReadWindow headers_;  // what ChunkIsAt read last
};

ParseResult Parser::Run() {
  movie_ = Movie{};
  std::array<std::uint8_t, 12> head{};
  if (file_.size() < head.size()) return {ParseStatus::kNotRiff, "the file is too short to be an AVI file"};
  if (!file_.ReadAt(0, head)) return {ParseStatus::kReadError, "the file could not be read"};
  if (Le32(head, 0) != kRiffId) return {ParseStatus::kNotRiff, "the file is not a RIFF file"};
  if (Le32(head, 8) != kFormAvi) {
    return {ParseStatus::kNotAvi,
            "the file is a RIFF '" + FourCcText(Le32(head, 8)) + "' file, not an AVI file"};
  }

  ChunkWalker top(file_, 0, file_.size());
  Chunk c;
  bool first = true;
  while (movie_.riff_parts < kMaxRiffParts && top.Next(&c)) {
    if (c.id == kRiffId && c.is_list() &&
        ((first && c.list_type == kFormAvi) || (!first && c.list_type == kFormAvix))) {
      if (!c.complete()) movie_.truncated = true;
      ParsePart(c, first);
      ++movie_.riff_parts;
      first = false;
    } else if (first) {
      break;  // cannot happen: the first chunk was checked above
    }
  }

  if (!have_hdrl_ || !have_avih_) return {ParseStatus::kNoHeaders, "the file has no AVI main header (hdrl/avih)"};
  bool any_stream = std::any_of(movie_.streams.begin(), movie_.streams.end(),
                                [](const Stream& s) { return s.header.type != 0; });
  if (!any_stream) return {ParseStatus::kNoStreams, "the file declares no streams"};

  bool built = false;
  bool any_indx = std::any_of(movie_.streams.begin(), movie_.streams.end(),
                              [](const Stream& s) { return !s.super_index.empty(); });
  if (any_indx) {
    built = BuildFromOpenDml();
    if (!built) {
      movie_.index_note = "the OpenDML index is damaged or incomplete";
      ClearIndexes();
    }
  }
  if (!built && have_idx1_) {
    if (movie_.truncated) {
      movie_.index_note = "the file is truncated";
    } else if (movi_.size() > 1) {
      movie_.index_note = "idx1 covers only the first RIFF part";
    } else {
      built = BuildFromIdx1();
      if (!built) {
        movie_.index_note = "the idx1 index is damaged";
        ClearIndexes();
      }
    }
  }
  if (!built) BuildFromScan();

  for (Stream& s : movie_.streams) {
    StreamIndex& ix = s.index;
    ix.has_key_frame_flags = std::any_of(ix.chunks.begin(), ix.chunks.end(),
                                         [](const ChunkEntry& e) { return e.key_frame; });
    if (!ix.has_key_frame_flags) {
      for (ChunkEntry& e : ix.chunks) e.key_frame = true;
    }
  }
  return {};
}

void Parser::ParsePart(const Chunk& riff, bool first) {
  ChunkWalker walk(file_, riff.children_begin(), riff.children_end());
  Chunk c;
  while (walk.Next(&c)) {
    if (c.id == kListId && c.is_list()) {
      if (c.list_type == kHdrl && first && !have_hdrl_) {
        have_hdrl_ = true;
        ParseHdrl(c);
      } else if (c.list_type == kMovi) {
        if (!c.complete()) movie_.truncated = true;
        movi_.push_back({c.data(), c.children_begin(), c.children_end()});
      }
    } else if (c.id == kIdx1 && first && !have_idx1_) {
      have_idx1_ = true;
      idx1_ = c;
    }
  }
}

void Parser::ParseHdrl(const Chunk& hdrl) {
  ChunkWalker walk(file_, hdrl.children_begin(), hdrl.children_end());
  Chunk c;
  while (walk.Next(&c)) {
    if (!c.complete()) break;
    if (c.id == kAvih && c.size >= kAvihMinSize && !have_avih_) {
      std::vector<std::uint8_t> b;
      if (!ReadChunkData(c, kAvihMinSize, &b)) continue;
      MainHeader& m = movie_.main;
      m.micro_sec_per_frame = Le32(b, 0);
      m.max_bytes_per_sec = Le32(b, 4);
      m.padding_granularity = Le32(b, 8);
      m.flags = Le32(b, 12);
      m.total_frames = Le32(b, 16);
      m.initial_frames = Le32(b, 20);
      m.streams = Le32(b, 24);
      m.suggested_buffer_size = Le32(b, 28);
      m.width = Le32(b, 32);
      m.height = Le32(b, 36);
      have_avih_ = true;
    } else if (c.id == kListId && c.is_list() && c.list_type == kStrl) {
      if (movie_.streams.size() < kMaxStreams) ParseStrl(c);
    } else if (c.id == kListId && c.is_list() && c.list_type == kOdml) {
      ParseOdml(c);
    }
  }
}

void Parser::ParseStrl(const Chunk& strl) {
  Stream s;
  bool have_strh = false, have_strf = false, have_strn = false, have_indx = false;
  ChunkWalker walk(file_, strl.children_begin(), strl.children_end());
  Chunk c;
  while (walk.Next(&c)) {
    if (!c.complete()) break;
    if (c.id == kStrh && c.size >= kStrhMinSize && !have_strh) {
      std::vector<std::uint8_t> b;
      if (!ReadChunkData(c, kStrhFullSize, &b)) continue;
      StreamHeader& h = s.header;
      h.type = Le32(b, 0);
      h.handler = Le32(b, 4);
      h.flags = Le32(b, 8);
      h.priority = Le16(b, 12);
      h.language = Le16(b, 14);
      h.initial_frames = Le32(b, 16);
      h.scale = Le32(b, 20);
      h.rate = Le32(b, 24);
      h.start = Le32(b, 28);
      h.length = Le32(b, 32);
      h.suggested_buffer_size = Le32(b, 36);
      h.quality = Le32(b, 40);
      h.sample_size = Le32(b, 44);
      if (b.size() >= kStrhFullSize) {
        for (int i = 0; i < 4; ++i) h.frame[i] = static_cast<std::int16_t>(Le16(b, 48 + 2 * i));
      }
      have_strh = true;
    } else if (c.id == kStrf && !have_strf) {
      have_strf = ReadChunkData(c, kMaxFormatBytes, &s.format);
      if (!have_strf) s.format.clear();
    } else if (c.id == kStrn && !have_strn) {
      std::vector<std::uint8_t> b;
      if (ReadChunkData(c, kMaxNameBytes, &b)) {
        auto nul = std::find(b.begin(), b.end(), 0);
        s.name.assign(b.begin(), nul);
        have_strn = true;
      }
    } else if (c.id == kIndx && !have_indx && c.size >= kOdmlHeaderSize &&
               c.size <= kMaxSuperIndexBytes) {
      have_indx = ReadChunkData(c, kMaxSuperIndexBytes, &s.super_index);
      if (!have_indx) s.super_index.clear();
    }
  }
  // Kept even without strh, so that stream numbers follow strl order.
  movie_.streams.push_back(std::move(s));
}

void Parser::ParseOdml(const Chunk& odml) {
  ChunkWalker walk(file_, odml.children_begin(), odml.children_end());
  Chunk c;
  while (walk.Next(&c)) {
    if (c.id == kDmlh && c.complete() && c.size >= 4) {
      std::vector<std::uint8_t> b;
      if (ReadChunkData(c, 4, &b)) {
        movie_.has_dmlh = true;
        movie_.dmlh_total_frames = Le32(b, 0);
      }
    }
  }
}

void Parser::ClearIndexes() {
  for (Stream& s : movie_.streams) s.index = StreamIndex{};
  budget_ = Budget{};
}

std::size_t Parser::TotalEntries() const {
  std::size_t n = 0;
  for (const Stream& s : movie_.streams) n += s.index.chunks.size();
  return n;
}

// Appends an entry while the movie's budget lasts.
bool Parser::Add(std::uint64_t data_pos, std::uint32_t size, bool key, StreamIndex* to) {
  if (budget_.entries_left == 0) return false;
  --budget_.entries_left;
  to->chunks.push_back({data_pos, size, key});
  return true;
}

// Whether a chunk header with `id` (or, unless exact_id, any data id of the
// same stream) and `size` is at header_pos, with all its data in the file.
//
// Every index entry is checked this way, thousands per movie, so the headers
// are read through a small window: a picture chunk's header is usually
// followed within a few KiB by the next sound chunk's and picture chunk's,
// and one read then serves several checks.
bool Parser::ChunkIsAt(std::uint64_t header_pos, std::uint32_t id, bool exact_id,
                       std::uint32_t size) {
  if (header_pos > file_.size() || file_.size() - header_pos < kChunkHeaderSize + std::uint64_t{size})
    return false;
  const std::span<const std::uint8_t> b = headers_.At(header_pos, kChunkHeaderSize, file_.size());
  if (b.empty()) return false;
  std::uint32_t found = Le32(b, 0);
  bool id_ok = exact_id ? found == id : DataChunkStream(found) == DataChunkStream(id);
  return id_ok && Le32(b, 4) == size;
}

bool Parser::BuildFromOpenDml() {
  budget_.std_index_bytes_left = file_.size();
  for (std::size_t n = 0; n < movie_.streams.size(); ++n) {
    Stream& s = movie_.streams[n];
    if (s.header.type != kTypeVideo && s.header.type != kTypeAudio) continue;
    if (s.super_index.empty()) return false;
    std::set<std::uint64_t> seen;
    if (!ReadOdmlIndex(s.super_index, static_cast<int>(n), 0, &seen, &s.index)) return false;
  }
  movie_.index_source = IndexSource::kOpenDml;
  return TotalEntries() > 0;
}

// Reads one OpenDML index chunk's data: a super index (depth 0 only), whose
// entries point at standard indexes, or a standard index of chunks.
bool Parser::ReadOdmlIndex(std::span<const std::uint8_t> body, int stream, int depth,
                           std::set<std::uint64_t>* seen, StreamIndex* out) {
  if (body.size() < kOdmlHeaderSize) return false;
  const std::uint16_t longs_per_entry = Le16(body, 0);
  const std::uint8_t type = body[3];
  const std::uint32_t in_use = Le32(body, 4);
  const std::uint32_t chunk_id = Le32(body, 8);
  if (DataChunkStream(chunk_id) != stream) return false;
  const std::size_t room = body.size() - kOdmlHeaderSize;

  if (type == kIndexOfIndexes) {
    if (depth != 0 || longs_per_entry < kSuperEntrySize / 4) return false;
    const std::size_t stride = std::size_t{longs_per_entry} * 4;
    const std::size_t count = std::min<std::size_t>(in_use, room / stride);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = kOdmlHeaderSize + i * stride;
      const std::uint64_t offset = Le64(body, at);
      if (!seen->insert(offset).second) return false;  // listed twice: a loop
      std::array<std::uint8_t, kChunkHeaderSize> head{};
      if (offset > file_.size() || file_.size() - offset < kChunkHeaderSize) return false;
      if (!file_.ReadAt(offset, head)) return false;
      const std::uint32_t size = Le32(head, 4);
      if (size < kOdmlHeaderSize || size > kMaxStdIndexBytes ||
          file_.size() - offset - kChunkHeaderSize < size)
        return false;
      if (size > budget_.std_index_bytes_left) return false;
      budget_.std_index_bytes_left -= size;
      std::vector<std::uint8_t> std_index(size);
      if (!file_.ReadAt(offset + kChunkHeaderSize, std_index)) return false;
      if (!ReadOdmlIndex(std_index, stream, depth + 1, seen, out)) return false;
    }
    return true;
  }
  if (type == kIndexOfChunks) {
    if (longs_per_entry < 2) return false;
    const std::uint64_t base = Le64(body, 12);
    const std::size_t stride = std::size_t{longs_per_entry} * 4;
    const std::size_t count = std::min<std::size_t>(in_use, room / stride);
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = kOdmlHeaderSize + i * stride;
      const std::uint32_t rel = Le32(body, at);
      const std::uint32_t raw_size = Le32(body, at + 4);
      const std::uint32_t size = raw_size & ~kOdmlNotKeyFrame;
      const std::uint64_t data_pos = base + rel;
      if (data_pos < base || data_pos < kChunkHeaderSize) return false;  // wrapped
      if (!ChunkIsAt(data_pos - kChunkHeaderSize, chunk_id, false, size)) return false;
      if (!Add(data_pos, size, (raw_size & kOdmlNotKeyFrame) == 0, out)) return false;
    }
    return true;
  }
  return false;
}

bool Parser::BuildFromIdx1() {
  if (movi_.empty()) return false;
  const std::uint64_t avail = idx1_.children_end() - idx1_.data();  // cut at the file's end
  const std::uint64_t count = std::min<std::uint64_t>(idx1_.size, avail) / kIdx1EntrySize;
  if (count == 0) return false;

  constexpr std::size_t kBlockEntries = 4096;
  std::vector<std::uint8_t> block;
  std::uint64_t base = 0;
  bool base_known = false;
  for (std::uint64_t first = 0; first < count; first += kBlockEntries) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kBlockEntries, count - first));
    block.resize(n * kIdx1EntrySize);
    if (!file_.ReadAt(idx1_.data() + first * kIdx1EntrySize, block)) return false;
    for (std::size_t i = 0; i < n; ++i) {
      std::span<const std::uint8_t> e = std::span(block).subspan(i * kIdx1EntrySize, kIdx1EntrySize);
      const std::uint32_t id = Le32(e, 0);
      const std::uint32_t flags = Le32(e, 4);
      const std::uint32_t offset = Le32(e, 8);
      const std::uint32_t size = Le32(e, 12);
      if ((flags & kAviifList) || id == kRec || id == kListId) continue;
      const int stream = DataChunkStream(id);
      if (stream < 0 || static_cast<std::size_t>(stream) >= movie_.streams.size()) continue;
      if (!base_known) {
        // Relative offsets count from the 'movi' type; absolute ones from 0.
        const std::uint64_t relative = movi_.front().type_pos;
        if (ChunkIsAt(relative + offset, id, true, size)) {
          base = relative;
          movie_.index_source = IndexSource::kIdx1Relative;
        } else if (ChunkIsAt(offset, id, true, size)) {
          base = 0;
          movie_.index_source = IndexSource::kIdx1Absolute;
        } else {
          return false;
        }
        base_known = true;
      } else if (!ChunkIsAt(base + offset, id, true, size)) {
        return false;
      }
      if (!Add(base + offset + kChunkHeaderSize, size, (flags & kAviifKeyFrame) != 0,
               &movie_.streams[stream].index))
        return false;
    }
  }
  return base_known;
}

void Parser::BuildFromScan() {
  movie_.index_source = IndexSource::kScan;
  bool stop = false;
  for (const MoviList& m : movi_) {
    if (stop) break;
    ScanList(m.begin, m.end, 0, &stop);
  }
}

void Parser::ScanList(std::uint64_t begin, std::uint64_t end, int depth, bool* stop) {
  ChunkWalker walk(file_, begin, end);
  Chunk c;
  while (!*stop && walk.Next(&c)) {
    if (!c.complete()) return;  // cut short: dropped, and nothing after it is known
    if (c.id == kListId && c.is_list()) {
      if (c.list_type == kRec && depth < kMaxListDepth) ScanList(c.children_begin(), c.children_end(), depth + 1, stop);
      continue;
    }
    const int stream = DataChunkStream(c.id);
    if (stream < 0 || static_cast<std::size_t>(stream) >= movie_.streams.size()) continue;
    if (!Add(c.data(), c.size, false, &movie_.streams[stream].index)) *stop = true;
  }
}

}  // namespace

int DataChunkStream(std::uint32_t id) {
  const std::uint8_t a = id & 0xFF, b = (id >> 8) & 0xFF;
  const std::uint8_t t0 = (id >> 16) & 0xFF, t1 = (id >> 24) & 0xFF;
  if (!IsDigit(a) || !IsDigit(b)) return -1;
  const bool data = (t0 == 'd' && (t1 == 'c' || t1 == 'b')) || (t0 == 'w' && t1 == 'b');
  if (!data) return -1;
  return (a - '0') * 10 + (b - '0');
}

ParseResult ParseAvi(const FileReader& file, Movie* movie) {
  Parser p(file, movie);
  return p.Run();
}

}  // namespace avi
