// The video-file library's calls, for systems that do not have the library.
//
// kestrix reads movies through a small set of AVI file-library calls. On
// Windows those come from the system's own library; everywhere else this
// header and the code in src/avi/ provide the same calls under the same
// names, so that the movie source compiles unchanged on both.
//
// Contract, as the movie source relies on it:
//  - Every call that returns HRESULT returns 0 (AVIERR_OK) on success and a
//    negative AVIERR_* value on failure.
//  - AVIFileOpenA opens a file for reading and parses its structure and
//    index once; the handle owns the open file until AVIFileRelease.
//  - AVIFileGetStream hands out a stream handle that stays valid until its
//    own AVIStreamRelease, even after the file handle is released.
//  - A frame getter (AVIStreamGetFrameOpen) owns the picture it returns from
//    AVIStreamGetFrame; the picture stays valid until the next call on the
//    same getter or AVIStreamGetFrameClose. The picture is a packed bitmap:
//    a BITMAPINFOHEADER, any colour table it declares, then the rows.
//  - All handles are used from one thread.
#ifndef KESTRIX_AVI_AVIFILE_H_
#define KESTRIX_AVI_AVIFILE_H_

#include <cstdint>
#include <string>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using UINT = unsigned int;
using HRESULT = std::int32_t;
using LPVOID = void*;
using LPCSTR = const char*;

struct CLSID;
using LPCLSID = const CLSID*;

constexpr DWORD mmioFOURCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) |
         static_cast<DWORD>(static_cast<BYTE>(b)) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(c)) << 16 |
         static_cast<DWORD>(static_cast<BYTE>(d)) << 24;
}

constexpr DWORD streamtypeVIDEO = mmioFOURCC('v', 'i', 'd', 's');
constexpr DWORD streamtypeAUDIO = mmioFOURCC('a', 'u', 'd', 's');

constexpr UINT OF_READ = 0;

// Error codes: the library's interface-facility errors 0x80044000 + n.
constexpr HRESULT MakeAviError(unsigned n) {
  return static_cast<HRESULT>(0x80044000u + n);
}
constexpr HRESULT AVIERR_OK = 0;
constexpr HRESULT AVIERR_UNSUPPORTED = MakeAviError(101);
constexpr HRESULT AVIERR_BADFORMAT = MakeAviError(102);
constexpr HRESULT AVIERR_MEMORY = MakeAviError(103);
constexpr HRESULT AVIERR_INTERNAL = MakeAviError(104);
constexpr HRESULT AVIERR_BADPARAM = MakeAviError(106);
constexpr HRESULT AVIERR_BADSIZE = MakeAviError(107);
constexpr HRESULT AVIERR_BADHANDLE = MakeAviError(108);
constexpr HRESULT AVIERR_FILEREAD = MakeAviError(109);
constexpr HRESULT AVIERR_FILEOPEN = MakeAviError(111);
constexpr HRESULT AVIERR_NODATA = MakeAviError(115);
constexpr HRESULT AVIERR_BUFFERTOOSMALL = MakeAviError(116);

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

#pragma pack(push, 2)
// The bitmap information header that opens a picture format and a frame.
struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // negative: rows stored top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;

// The 16-byte PCM sound format.
struct WAVEFORMAT {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
};
struct PCMWAVEFORMAT {
  WAVEFORMAT wf;
  WORD wBitsPerSample;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(PCMWAVEFORMAT) == 16);

// File-level information; 108 bytes.
struct AVIFILEINFOA {
  DWORD dwMaxBytesPerSec;
  DWORD dwFlags;
  DWORD dwCaps;
  DWORD dwStreams;
  DWORD dwSuggestedBufferSize;
  DWORD dwWidth;
  DWORD dwHeight;
  DWORD dwScale;  // of the first picture stream
  DWORD dwRate;   // of the first picture stream
  DWORD dwLength;
  DWORD dwEditCount;
  char szFileType[64];
};
using AVIFILEINFO = AVIFILEINFOA;
static_assert(sizeof(AVIFILEINFOA) == 108);

// Opaque handles; their definitions live in the implementation.
struct AviFileHandle;
struct AviStreamHandle;
struct AviFrameGetter;
using PAVIFILE = AviFileHandle*;
using PAVISTREAM = AviStreamHandle*;
using PGETFRAME = AviFrameGetter*;

void AVIFileInit();
void AVIFileExit();

HRESULT AVIFileOpenA(PAVIFILE* file, LPCSTR name, UINT mode, LPCLSID handler);
ULONG AVIFileRelease(PAVIFILE file);
HRESULT AVIFileInfoA(PAVIFILE file, AVIFILEINFOA* info, LONG size);
// Stream number `index` among the streams of type `type` (0 for any type).
HRESULT AVIFileGetStream(PAVIFILE file, PAVISTREAM* stream, DWORD type,
                         LONG index);

ULONG AVIStreamRelease(PAVISTREAM stream);
LONG AVIStreamStart(PAVISTREAM stream);
LONG AVIStreamLength(PAVISTREAM stream);
// Copies up to *size bytes of the stream's format to `format`, zero-filling
// what the format does not cover. With a null `format`, stores the format's
// full size in *size.
HRESULT AVIStreamReadFormat(PAVISTREAM stream, LONG position, LPVOID format,
                            LONG* size);
// Reads whole samples from `start`. `bytes` and `samples` may be null.
HRESULT AVIStreamRead(PAVISTREAM stream, LONG start, LONG count, LPVOID buffer,
                      LONG buffer_size, LONG* bytes, LONG* samples);

// `wanted` must be null (the library's default decoded format) here.
PGETFRAME AVIStreamGetFrameOpen(PAVISTREAM stream, LPBITMAPINFOHEADER wanted);
LPVOID AVIStreamGetFrame(PGETFRAME getter, LONG position);
HRESULT AVIStreamGetFrameClose(PGETFRAME getter);

// Not a library call: why the last AVIStreamGetFrameOpen on `stream` gave no
// getter ("no decoder for 'MJPG' pictures", ...); empty when it gave one.
// The string belongs to the stream handle.
const char* AviStreamGetFrameProblem(PAVISTREAM stream);

// Not a library call: AVIFileOpenA (read-only) that also says, in *why (may
// be null), why a file could not be opened: the system's error text for
// AVIERR_FILEOPEN, what is wrong with the file for AVIERR_BADFORMAT.
HRESULT AviFileOpenExplained(PAVIFILE* file, LPCSTR name, std::string* why);

#endif  // KESTRIX_AVI_AVIFILE_H_
