// The structure of an AVI file: its headers, streams and chunk indexes.
//
// ParseAvi reads the RIFF 'AVI ' form and any 'AVIX' continuations (OpenDML
// files past 1 GiB), the header list (avih, one strl per stream with strh,
// strf, strn and indx, odml/dmlh) and builds each stream's chunk list from,
// in this order of preference:
//   1. the OpenDML indexes (indx super index and its ix## standard indexes),
//      which cover every RIFF part;
//   2. the idx1 index, whose offsets may count from the 'movi' list or from
//      the start of the file (told apart by where the first entry's chunk
//      header really is); used only for single-part, untruncated files;
//   3. a scan of the movi lists, which finds every whole chunk of a
//      truncated or badly indexed file.
// An index is used only if every entry it gives names a chunk whose header
// is where it says, with the same id and size, and whose data lies inside the
// file; otherwise the next source is tried.
//
// Nothing a file claims is trusted: every size is checked against the file's
// real length, list nesting and the number of streams, parts and index
// entries are bounded (see the limits below), and every walk moves forward,
// so a hostile file costs bounded memory and time.
#ifndef KESTRIX_AVI_AVI_PARSER_H_
#define KESTRIX_AVI_AVI_PARSER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "avi/file_reader.h"
#include "avi/riff.h"
#include "avi/stream_index.h"

namespace avi {

constexpr std::uint32_t kFormAvi = FourCc('A', 'V', 'I', ' ');
constexpr std::uint32_t kFormAvix = FourCc('A', 'V', 'I', 'X');
constexpr std::uint32_t kTypeVideo = FourCc('v', 'i', 'd', 's');
constexpr std::uint32_t kTypeAudio = FourCc('a', 'u', 'd', 's');

// Limits on what a file may make us hold.
constexpr int kMaxListDepth = 8;
constexpr std::size_t kMaxStreams = 100;           // stream numbers are two digits
constexpr std::size_t kMaxRiffParts = 65536;
constexpr std::uint32_t kMaxFormatBytes = 64 << 10;  // strf kept per stream
constexpr std::uint32_t kMaxSuperIndexBytes = 256 << 10;
constexpr std::size_t kMaxIndexEntries = 2 << 20;  // all streams together

// avih.
struct MainHeader {
  std::uint32_t micro_sec_per_frame = 0;
  std::uint32_t max_bytes_per_sec = 0;
  std::uint32_t padding_granularity = 0;
  std::uint32_t flags = 0;
  std::uint32_t total_frames = 0;
  std::uint32_t initial_frames = 0;
  std::uint32_t streams = 0;
  std::uint32_t suggested_buffer_size = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// strh.
struct StreamHeader {
  std::uint32_t type = 0;  // 'vids', 'auds', ...; 0 when strh is missing
  std::uint32_t handler = 0;
  std::uint32_t flags = 0;
  std::uint16_t priority = 0;
  std::uint16_t language = 0;
  std::uint32_t initial_frames = 0;
  std::uint32_t scale = 0;
  std::uint32_t rate = 0;
  std::uint32_t start = 0;
  std::uint32_t length = 0;
  std::uint32_t suggested_buffer_size = 0;
  std::uint32_t quality = 0;
  std::uint32_t sample_size = 0;
  std::int16_t frame[4] = {0, 0, 0, 0};  // left, top, right, bottom
};

struct Stream {
  StreamHeader header;
  std::vector<std::uint8_t> format;       // the whole strf (up to kMaxFormatBytes)
  std::string name;                       // strn
  std::vector<std::uint8_t> super_index;  // the indx chunk's data, if any
  StreamIndex index;
};

enum class IndexSource { kOpenDml, kIdx1Relative, kIdx1Absolute, kScan };

struct Movie {
  MainHeader main;
  bool has_dmlh = false;
  std::uint32_t dmlh_total_frames = 0;
  std::vector<Stream> streams;  // in strl order: stream n is chunk id "nn.."
  std::size_t riff_parts = 0;   // 1 + the number of AVIX parts
  bool truncated = false;       // the file is shorter than its RIFF headers say
  IndexSource index_source = IndexSource::kScan;
  std::string index_note;       // why a preferred index was not used
};

enum class ParseStatus {
  kOk,
  kNotRiff,     // no RIFF header
  kNotAvi,      // a RIFF file of another form (WAVE, ...)
  kNoHeaders,   // no usable hdrl/avih
  kNoStreams,   // no stream with a header
  kReadError,   // the file could not be read
};

struct ParseResult {
  ParseStatus status = ParseStatus::kOk;
  std::string why;  // for a person; empty when kOk
  bool ok() const { return status == ParseStatus::kOk; }
};

// Parses the file's structure into *movie.
ParseResult ParseAvi(const FileReader& file, Movie* movie);

// The stream number of a data chunk id ("00dc", "01wb", ...), or -1 for ids
// that are not stream data: palette changes ("##pc"), index chunks, lists.
int DataChunkStream(std::uint32_t id);

}  // namespace avi

#endif  // KESTRIX_AVI_AVI_PARSER_H_
