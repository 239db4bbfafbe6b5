// The video-file library calls of avifile.h, thin over the parser, the sound
// reader and the frame getters.
//
// An opened file is parsed once into an OpenMovie, shared (reference
// counted) by the file handle, its stream handles and their getters, so any
// of them may be released in any order.
#include "avi/avifile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "avi/avi_parser.h"
#include "avi/file_reader.h"
#include "avi/frame_getter.h"
#include "avi/sound_reader.h"

namespace {

struct OpenMovie {
  avi::FileReader file;
  avi::Movie movie;
};

constexpr UINT kOfWriteBits = 0x0001 | 0x0002 | 0x1000;  // OF_WRITE, OF_READWRITE, OF_CREATE
constexpr DWORD kAvifKnownFlags = 0x10 | 0x20 | 0x100 | 0x10000 | 0x20000;
constexpr DWORD kAviFileCapsCanRead = 0x1;
constexpr std::size_t kWaveBlockAlignAt = 12;
constexpr DWORD kDibFourCc = mmioFOURCC('D', 'I', 'B', ' ');

const avi::Stream* FirstOfType(const avi::Movie& m, std::uint32_t type) {
  for (const avi::Stream& s : m.streams)
    if (s.header.type == type) return &s;
  return nullptr;
}

}  // namespace

struct AviFileHandle {
  std::shared_ptr<const OpenMovie> open;
  ULONG refs = 1;
};

struct AviStreamHandle {
  std::shared_ptr<const OpenMovie> open;
  const avi::Stream* stream = nullptr;
  std::optional<avi::SoundReader> sound;  // made on the first read
  std::string problem;
  ULONG refs = 1;
};

struct AviFrameGetter {
  std::shared_ptr<const OpenMovie> open;
  std::unique_ptr<avi::FrameGetter> getter;
};

void AVIFileInit() {}
void AVIFileExit() {}

HRESULT AviFileOpenExplained(PAVIFILE* file, LPCSTR name, std::string* why) {
  auto fail = [why](HRESULT code, std::string text) {
    if (why) *why = std::move(text);
    return code;
  };
  if (!file) return fail(AVIERR_BADPARAM, "no place for the file handle");
  *file = nullptr;
  if (!name) return fail(AVIERR_BADPARAM, "no file name");
  try {
    auto open = std::make_shared<OpenMovie>();
    if (!open->file.Open(name)) return fail(AVIERR_FILEOPEN, open->file.error());
    avi::ParseResult r = avi::ParseAvi(open->file, &open->movie);
    if (!r.ok()) {
      return fail(r.status == avi::ParseStatus::kReadError ? AVIERR_FILEREAD : AVIERR_BADFORMAT,
                  r.why);
    }
    *file = new AviFileHandle{std::move(open)};
  } catch (const std::bad_alloc&) {
    return fail(AVIERR_MEMORY, "out of memory");
  }
  if (why) why->clear();
  return AVIERR_OK;
}

HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR name, UINT mode, LPCLSID) {
  if (mode & kOfWriteBits) {
    if (file) *file = nullptr;
    return AVIERR_UNSUPPORTED;
  }
  return AviFileOpenExplained(file, name, nullptr);
}

ULONG AVIFileRelease(PAVIFILE file) {
  if (!file) return 0;
  ULONG left = --file->refs;
  if (left == 0) delete file;
  return left;
}

HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, LONG size) {
  if (!file) return AVIERR_BADHANDLE;
  if (!info || size < 0) return AVIERR_BADPARAM;
  const avi::Movie& m = file->open->movie;
  AVIFILEINFOA out{};
  out.dwMaxBytesPerSec = m.main.max_bytes_per_sec;
  out.dwFlags = m.main.flags & kAvifKnownFlags;
  out.dwCaps = kAviFileCapsCanRead;
  out.dwStreams = static_cast<DWORD>(m.streams.size());
  out.dwSuggestedBufferSize = m.main.suggested_buffer_size;
  out.dwWidth = m.main.width;
  out.dwHeight = m.main.height;
  if (const avi::Stream* v = FirstOfType(m, avi::kTypeVideo)) {
    out.dwScale = v->header.scale;
    out.dwRate = v->header.rate;
    out.dwLength = v->header.length;
  } else {
    out.dwScale = m.main.micro_sec_per_frame;
    out.dwRate = 1000000;
    out.dwLength = m.main.total_frames;
  }
  std::strcpy(out.szFileType, "AVI");
  std::memcpy(info, &out, std::min<std::size_t>(static_cast<std::size_t>(size), sizeof out));
  return AVIERR_OK;
}

HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type, LONG index) {
  if (!stream) return AVIERR_BADPARAM;
  *stream = nullptr;
  if (!file) return AVIERR_BADHANDLE;
  if (index < 0) return AVIERR_BADPARAM;
  LONG seen = 0;
  for (const avi::Stream& s : file->open->movie.streams) {
    if (s.header.type == 0 || (type != 0 && s.header.type != type)) continue;
    if (seen++ == index) {
      try {
        auto* h = new AviStreamHandle;
        h->open = file->open;
        h->stream = &s;
        *stream = h;
      } catch (const std::bad_alloc&) {
        return AVIERR_MEMORY;
      }
      return AVIERR_OK;
    }
  }
  return AVIERR_NODATA;
}

ULONG AVIStreamRelease(PAVISTREAM stream) {
  if (!stream) return 0;
  ULONG left = --stream->refs;
  if (left == 0) delete stream;
  return left;
}

namespace {
// Header counts are unsigned; past LONG's range they are cut, never negative.
LONG AsLong(DWORD v) { return static_cast<LONG>(std::min<DWORD>(v, 0x7FFFFFFF)); }
}  // namespace

LONG AVIStreamStart(PAVISTREAM stream) { return stream ? AsLong(stream->stream->header.start) : 0; }

// dwLength, cut to what the file could hold at all: a picture needs a chunk
// of its own (8 header bytes at least), a sample at least a byte. Unfinished
// files (written to a pipe) carry placeholder lengths such as 2^30.
LONG AVIStreamLength(PAVISTREAM stream) {
  if (!stream) return 0;
  const avi::Stream& s = *stream->stream;
  const std::uint64_t file_size = stream->open->file.size();
  const std::uint64_t most = s.header.type == avi::kTypeVideo ? file_size / 8 : file_size;
  return AsLong(static_cast<DWORD>(std::min<std::uint64_t>(s.header.length, most)));
}

HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG, LPVOID format, LONG* size) {
  if (!stream) return AVIERR_BADHANDLE;
  if (!size || *size < 0) return AVIERR_BADPARAM;
  const std::vector<std::uint8_t>& f = stream->stream->format;
  if (f.empty()) return AVIERR_NODATA;
  if (!format) {
    *size = static_cast<LONG>(f.size());
    return AVIERR_OK;
  }
  const std::size_t room = static_cast<std::size_t>(*size);
  const std::size_t n = std::min(room, f.size());
  std::memcpy(format, f.data(), n);
  std::memset(static_cast<std::uint8_t*>(format) + n, 0, room - n);
  *size = static_cast<LONG>(n);
  return AVIERR_OK;
}

namespace {

// A picture stream read through AVIStreamRead: one chunk is one sample.
HRESULT ReadPictureChunk(AviStreamHandle* s, LONG start, LPVOID buffer, LONG buffer_size,
                         LONG* bytes, LONG* samples) {
  const auto& chunks = s->stream->index.chunks;
  if (start < 0) return AVIERR_BADPARAM;
  if (static_cast<std::size_t>(start) >= chunks.size()) return AVIERR_OK;
  const avi::ChunkEntry& c = chunks[static_cast<std::size_t>(start)];
  if (buffer) {
    if (static_cast<std::uint64_t>(buffer_size) < c.size) return AVIERR_BUFFERTOOSMALL;
    if (!s->open->file.ReadAt(c.offset, std::span(static_cast<std::uint8_t*>(buffer), c.size)))
      return AVIERR_FILEREAD;
  }
  if (bytes) *bytes = static_cast<LONG>(c.size);
  if (samples) *samples = 1;
  return AVIERR_OK;
}

}  // namespace

HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG count, LPVOID buffer,
                      LONG buffer_size, LONG* bytes, LONG* samples) {
  if (bytes) *bytes = 0;
  if (samples) *samples = 0;
  if (!stream) return AVIERR_BADHANDLE;
  if (buffer && buffer_size < 0) return AVIERR_BADPARAM;
  const avi::Stream& st = *stream->stream;
  std::uint32_t sample_size = st.header.sample_size;
  if (sample_size == 0 && st.header.type == avi::kTypeAudio && st.format.size() >= kWaveBlockAlignAt + 2)
    sample_size = avi::Le16(st.format, kWaveBlockAlignAt);
  if (sample_size == 0) {
    if (st.header.type == avi::kTypeVideo) {
      return ReadPictureChunk(stream, start, buffer, buffer_size, bytes, samples);
    }
    return AVIERR_UNSUPPORTED;
  }
  if (!stream->sound) stream->sound.emplace(stream->open->file, st.index, sample_size);
  std::span<std::uint8_t> out;
  if (buffer) out = std::span(static_cast<std::uint8_t*>(buffer), static_cast<std::size_t>(buffer_size));
  avi::SoundRead r = stream->sound->Read(start, count, out, buffer == nullptr);
  switch (r.status) {
    case avi::SoundStatus::kOk: break;
    case avi::SoundStatus::kBadParam: return AVIERR_BADPARAM;
    case avi::SoundStatus::kBufferTooSmall: return AVIERR_BUFFERTOOSMALL;
    case avi::SoundStatus::kReadError: return AVIERR_FILEREAD;
  }
  if (bytes) *bytes = static_cast<LONG>(r.bytes);
  if (samples) *samples = static_cast<LONG>(r.samples);
  return AVIERR_OK;
}

PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, LPBITMAPINFOHEADER wanted) {
  if (!stream) return nullptr;
  stream->problem.clear();
  const avi::Stream& st = *stream->stream;
  if (st.header.type != avi::kTypeVideo) {
    stream->problem = "not a picture stream";
    return nullptr;
  }
  if (wanted) {
    stream->problem = "only the default decoded format is offered";
    return nullptr;
  }
  if (st.format.size() < sizeof(BITMAPINFOHEADER)) {
    stream->problem = "the picture stream's format is missing or too short";
    return nullptr;
  }
  avi::PictureStream ps;
  ps.file = &stream->open->file;
  ps.index = &st.index;
  ps.handler = st.header.handler;
  ps.format = st.format;
  std::memcpy(&ps.header, st.format.data(), sizeof ps.header);
  ps.length = static_cast<std::int32_t>(st.header.length);
  const DWORD compression = ps.header.biCompression;
  try {
    std::unique_ptr<avi::FrameGetter> g;
    if (compression == BI_RGB || compression == BI_BITFIELDS || compression == kDibFourCc)
      g = avi::OpenUncompressedGetter(ps, &stream->problem);
    else
      g = avi::OpenDecodingGetter(ps, &stream->problem);
    if (!g) {
      if (stream->problem.empty()) stream->problem = "no getter for these pictures";
      return nullptr;
    }
    stream->problem.clear();
    return new AviFrameGetter{stream->open, std::move(g)};
  } catch (const std::bad_alloc&) {
    stream->problem = "out of memory";
    return nullptr;
  }
}

LPVOID AVIStreamGetFrame(PGETFRAME getter, LONG position) {
  if (!getter) return nullptr;
  return const_cast<std::uint8_t*>(getter->getter->Get(position));
}

HRESULT AVIStreamGetFrameClose(PGETFRAME getter) {
  if (!getter) return AVIERR_BADHANDLE;
  delete getter;
  return AVIERR_OK;
}

const char* AviStreamGetFrameProblem(PAVISTREAM stream) {
  return stream ? stream->problem.c_str() : "no stream";
}
