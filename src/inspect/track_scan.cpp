#include "inspect/track_scan.h"

#include <algorithm>
#include <cstring>

namespace inspect {
namespace {

using track::kFirstPayloadGroup;
using track::kGroupBytes;
using track::kIndexGroups;
using track::kLeadGroups;
using track::kRecordBytes;

// The constant groups: the first 400 bytes of a record, sound bytes aside.
constexpr std::size_t kConstantBytes = kFirstPayloadGroup * kGroupBytes;

// How many of the 40 constant groups must match for bytes to count as a
// record. Where the previous record ends, a record is expected, so a few
// matching groups are enough (even a record whose whole lead is damaged
// keeps its 16 index and fill groups). Found by searching, it must show
// most of its groups, so a stray copy of the lead block inside a picture
// is not taken for a record.
constexpr int kMinGroupsWhereExpected = 8;
constexpr int kMinGroupsWhenSearching = 24;

constexpr int kAllConstantGroups = static_cast<int>(kFirstPayloadGroup);

int MatchingGroups(const RecordInfo& info) {
  return kAllConstantGroups - info.bad_lead - info.bad_index - info.bad_fill;
}

// Whether a candidate found by searching counts as a record. Besides most
// of its groups matching, half of its index and fill groups must: a
// picture can hold copies of the lead block in whole groups (its payload is
// laid nine bytes a group), and those alone must not make a record.
bool FoundBySearch(const RecordInfo& info) {
  constexpr int kIndexAndFill = static_cast<int>(kIndexGroups + track::kFillGroups);
  return MatchingGroups(info) >= kMinGroupsWhenSearching &&
         kIndexAndFill - info.bad_index - info.bad_fill >= kIndexAndFill / 2;
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The WAV fields kestrix writes.
constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kChannels = 2;
constexpr std::uint32_t kSamplesPerSec = 44100;
constexpr std::uint32_t kAvgBytesPerSec = 176400;
constexpr std::uint16_t kBlockAlign = 4;
constexpr std::uint16_t kBitsPerSample = 16;
constexpr std::size_t kMaxChunks = 4096;

void ExpectField(const char* name, std::uint64_t got, std::uint64_t want,
                 std::vector<std::string>* problems) {
  if (got != want) {
    problems->push_back(std::string(name) + " is " + std::to_string(got) + ", not " +
                        std::to_string(want));
  }
}

// Whether [from, from + length) holds only zero bytes.
bool AllZero(BlockReader& reader, std::uint64_t from, std::uint64_t length, Status* status) {
  const std::size_t step = std::min<std::size_t>(64 * 1024, reader.max_get());
  while (length > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, step));
    const std::uint8_t* p = reader.Get(from, n);
    if (!p) {
      *status = reader.status();
      return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (p[i]) return false;
    }
    from += n;
    length -= n;
  }
  return true;
}

}  // namespace

std::size_t TrackScan::damaged_count() const {
  return static_cast<std::size_t>(
      std::count_if(records.begin(), records.end(), [](const RecordInfo& r) { return !r.whole(); }));
}

Status CheckHeader(BlockReader& reader, HeaderCheck* out) {
  *out = HeaderCheck();
  const std::uint64_t size = reader.source().Size();
  auto& problems = out->problems;
  const std::uint8_t* h = size >= 12 ? reader.Get(0, 12) : nullptr;
  if (!h && !reader.status().ok) return reader.status();
  if (!h || std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0) {
    problems.push_back("no WAV header (no RIFF/WAVE at the start): reading the whole file as sample data");
    return Status::Ok();
  }
  out->riff_found = true;
  ExpectField("RIFF size", ReadU32(h + 4), size - 8, &problems);

  bool fmt_found = false;
  std::uint64_t at = 12;
  for (std::size_t n = 0; n < kMaxChunks && at + 8 <= size; ++n) {
    const std::uint8_t* c = reader.Get(at, 8);
    if (!c) return reader.status();
    const std::uint32_t chunk_size = ReadU32(c + 4);
    if (std::memcmp(c, "data", 4) == 0) {
      out->data_found = true;
      out->data_offset = at + 8;
      ExpectField("data size", chunk_size, size - out->data_offset, &problems);
      break;
    }
    if (std::memcmp(c, "fmt ", 4) == 0) {
      fmt_found = true;
      ExpectField("fmt size", chunk_size, 16, &problems);
      if (chunk_size < 16 || at + 8 + 16 > size) {
        problems.push_back("fmt chunk too short to hold a PCM format");
      } else {
        const std::uint8_t* f = reader.Get(at + 8, 16);
        if (!f) return reader.status();
        ExpectField("format tag (1 is PCM)", ReadU16(f), kWaveFormatPcm, &problems);
        ExpectField("channels", ReadU16(f + 2), kChannels, &problems);
        ExpectField("sample rate", ReadU32(f + 4), kSamplesPerSec, &problems);
        ExpectField("bytes per second", ReadU32(f + 8), kAvgBytesPerSec, &problems);
        ExpectField("block align", ReadU16(f + 12), kBlockAlign, &problems);
        ExpectField("bits per sample", ReadU16(f + 14), kBitsPerSample, &problems);
      }
    }
    at += 8 + static_cast<std::uint64_t>(chunk_size) + (chunk_size & 1u);
  }
  if (!fmt_found) problems.push_back("no fmt chunk before the data");
  if (!out->data_found) {
    problems.push_back("no data chunk: reading the whole file as sample data");
    out->data_offset = 0;
  }
  return Status::Ok();
}

void CompareConstantGroups(const std::uint8_t* record, RecordInfo* info) {
  info->bad_lead = info->bad_index = info->bad_fill = 0;
  for (std::size_t g = 0; g < kFirstPayloadGroup; ++g) {
    if (std::memcmp(record + g * kGroupBytes, track::ConstantGroup(g).data(), 9) == 0) continue;
    if (g < kLeadGroups) {
      ++info->bad_lead;
    } else if (g < kLeadGroups + kIndexGroups) {
      ++info->bad_index;
    } else {
      ++info->bad_fill;
    }
  }
  info->damage &= kDamageShort;
  if (info->bad_lead) info->damage |= kDamageSync;
  if (info->bad_index) info->damage |= kDamageIndex;
  if (info->bad_fill) info->damage |= kDamageFill;
}

Status ScanTrack(BlockReader& reader, TrackScan* out) {
  *out = TrackScan();
  Status s = CheckHeader(reader, &out->header);
  if (!s.ok) return s;
  const std::uint64_t size = reader.source().Size();
  out->file_size = size;
  const std::uint64_t begin = out->header.data_offset;
  const std::span<const std::uint8_t> lead(track::kLeadBlock);

  // Scores the candidate record at `at` into *info; false if unreadable.
  auto score = [&](std::uint64_t at, RecordInfo* info) -> bool {
    const std::uint8_t* p = reader.Get(at, kConstantBytes);
    if (!p) return false;
    *info = RecordInfo();
    info->offset = at;
    CompareConstantGroups(p, info);
    return true;
  };

  // Searches from `from` for the first copy of the lead block that starts
  // a record; false when there is none before the end.
  auto search = [&](std::uint64_t from, RecordInfo* result) -> bool {
    while (true) {
      const std::uint64_t q = reader.Find(lead, from, size);
      if (!reader.status().ok || q >= size) return false;
      // The copy found is lead group k of a record starting 10k earlier;
      // k is unknown when the first groups are damaged, so try each.
      int best_groups = -1;
      for (std::size_t k = 0; k < kLeadGroups; ++k) {
        if (q < from + k * kGroupBytes) break;
        RecordInfo c;
        const std::uint64_t at = q - k * kGroupBytes;
        if (at + kConstantBytes > size || !score(at, &c)) continue;
        if (FoundBySearch(c) && MatchingGroups(c) > best_groups) {
          *result = c;
          best_groups = MatchingGroups(c);
        }
      }
      if (!reader.status().ok) return false;
      if (best_groups >= 0) return true;
      from = q + 1;
    }
  };

  std::uint64_t search_from = begin;
  while (true) {
    RecordInfo found;
    bool have = false;
    if (!out->records.empty()) {
      const std::uint64_t expected = out->records.back().offset + kRecordBytes;
      if (expected + kConstantBytes <= size && score(expected, &found) &&
          MatchingGroups(found) >= kMinGroupsWhereExpected) {
        have = true;
        // Bytes lost inside the previous record by a multiple of ten keep
        // the groups aligned, so a shifted record partly matches where one
        // is expected. A better record found before it wins.
        RecordInfo nearer;
        if (!found.whole() && search(search_from, &nearer) &&
            nearer.offset < expected + kConstantBytes && MatchingGroups(nearer) > MatchingGroups(found)) {
          found = nearer;
        }
      }
      if (!reader.status().ok) return reader.status();
    }
    if (!have) have = search(search_from, &found);
    if (!reader.status().ok) return reader.status();
    if (!have) break;

    if (out->records.empty()) {
      out->leading_bytes = found.offset - begin;
    } else {
      RecordInfo& prev = out->records.back();
      const std::uint64_t distance = found.offset - prev.offset;
      if (distance < kRecordBytes) {
        prev.length = static_cast<std::uint32_t>(distance);
        prev.damage |= kDamageShort;
      } else if (distance > kRecordBytes) {
        out->gaps.push_back({prev.offset + kRecordBytes, distance - kRecordBytes});
      }
    }
    found.length = static_cast<std::uint32_t>(kRecordBytes);
    out->records.push_back(found);
    search_from = found.offset + kConstantBytes;
  }

  if (out->records.empty()) {
    out->leading_bytes = size - begin;
  } else {
    RecordInfo& last = out->records.back();
    if (last.offset + kRecordBytes > size) {
      last.length = static_cast<std::uint32_t>(size - last.offset);
      last.damage |= kDamageShort;
    }
    out->trailing_bytes = size - (last.offset + last.length);
  }
  out->leading_all_zero = AllZero(reader, begin, out->leading_bytes, &s);
  if (!s.ok) return s;
  out->trailing_all_zero = AllZero(reader, size - out->trailing_bytes, out->trailing_bytes, &s);
  return s;
}

void ExtractPayload(const track::RecordBytes& record, track::PicturePayload* payload) {
  std::uint8_t* out = payload->data();
  for (std::size_t g = kFirstPayloadGroup; g < track::kGroupsPerRecord; ++g, out += 9) {
    std::memcpy(out, &record[g * kGroupBytes], 9);
  }
}

void ExtractSound(const track::RecordBytes& record, track::SoundBlock* sound) {
  for (std::size_t g = 0; g < track::kGroupsPerRecord; ++g) {
    (*sound)[g] = record[g * kGroupBytes + 9];
  }
}

Status ReadRecord(ByteSource& source, const RecordInfo& info, track::RecordBytes* out) {
  const std::size_t n = std::min<std::size_t>(info.length, kRecordBytes);
  Status s = source.ReadAt(info.offset, {out->data(), n});
  if (!s.ok) return s;
  std::fill(out->begin() + static_cast<std::ptrdiff_t>(n), out->end(), 0);
  return Status::Ok();
}

}  // namespace inspect
