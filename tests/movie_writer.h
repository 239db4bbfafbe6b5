// Test movies: small AVI files written by the tests themselves.
//
// WriteMovie builds an AVI file in memory from a MovieOptions record; the
// pictures and sound in it are deterministic functions of the options, so a
// test can ask ExpectedPixel / ExpectedSound what any frame or sample must
// hold and compare that with what a reader delivers.
//
// What a caller may rely on:
//  - Picture content: frame f, pixel (x, y) with y = 0 the TOP row, has the
//    colour ContentPixel(options, f, x, y). Every frame differs from its
//    neighbours and neighbouring pixels differ. 24- and 32-bit movies store
//    that colour exactly; 8-bit movies store a palette index whose palette
//    entry is that colour; 16-bit movies store it reduced to 5 (or 6) bits a
//    channel, and ContentPixel already gives the reduced colour expanded back
//    to 8 bits the usual way (v << 3 | v >> 2, or v << 2 | v >> 4 for 6 bits).
//  - Drop frames (options.drop_frames) are written as empty chunks; such a
//    frame shows the picture of the last frame before it that is not dropped
//    (ShownFrame). A dropped frame 0 has no picture (ShownFrame = -1).
//  - Sound: the stream's bytes, in order, are SoundByte(options, k) for
//    k = 0 .. total_samples * block_align - 1, cut into chunks of
//    sound.chunk_samples samples (the list is used round and round).
//    ExpectedSound(options, first, count) gives the bytes of `count` samples
//    from sample `first`, cut at the stream's end.
//  - Layout: RIFF 'AVI ' with hdrl (avih, one strl for pictures, then one for
//    sound), movi (per frame: the picture chunk '00dc' then the sound chunks
//    due by then, '01wb'), then idx1. Sound chunks are spread so that the
//    sound is written in step with the pictures; frames == 0 writes all the
//    sound at once.
//  - truncate_at cuts the finished file after that many bytes; the headers
//    keep the sizes of the whole file (as a broken copy would).
//  - Everything is little-endian and written field by field; no structure
//    is copied from any header.
#ifndef KESTRIX_TESTS_MOVIE_WRITER_H_
#define KESTRIX_TESTS_MOVIE_WRITER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_movies {

enum class PixelLayout {
  kBottomUp24,  // BI_RGB 24-bit, positive biHeight
  kTopDown24,   // BI_RGB 24-bit, negative biHeight (as ffmpeg writes)
  kPalette8,    // BI_RGB 8-bit, 256-entry palette after the header in strf
  kRgb555,      // BI_RGB 16-bit (5-5-5)
  kRgb565,      // BI_BITFIELDS 16-bit, masks after the header in strf
  kRgb32,       // BI_RGB 32-bit (B, G, R, 0)
};

enum class IndexKind {
  kIdx1Relative,  // idx1 offsets from the 'movi' list type
  kIdx1Absolute,  // idx1 offsets from the start of the file
  kNone,          // no index at all
};

// Ways to spoil the idx1 index (the chunks themselves stay intact).
enum class IndexDamage {
  kNone,
  kWrongOffsets,   // every entry points 3 bytes past its chunk
  kHugeCount,      // idx1 claims far more bytes than the file holds
};

// Ways to spoil the OpenDML indexes.
enum class OdmlDamage {
  kNone,
  kSelfLoop,        // the picture stream's super index lists itself
  kWrongOffsets,    // the picture stream's ix entries point 3 bytes off
};

struct SoundOptions {
  int channels = 2;
  int bits = 8;  // 8 or 16
  std::uint32_t rate = 8820;
  // Total samples in the stream; nullopt: 980 per frame.
  std::optional<std::uint64_t> total_samples;
  // Sound chunk sizes in samples, used round and round. Must be non-empty.
  std::vector<std::uint32_t> chunk_samples = {980};
  // Writes strh.dwSampleSize as 0 (readers must use nBlockAlign then).
  bool zero_sample_size = false;
};

struct MovieOptions {
  int width = 432;
  int height = 160;
  int frames = 9;
  std::uint32_t rate = 9;   // frames per second = rate / scale
  std::uint32_t scale = 1;
  PixelLayout layout = PixelLayout::kBottomUp24;
  bool with_sound = true;
  SoundOptions sound;
  bool rec_lists = false;  // wrap each frame's chunks in a LIST 'rec '
  IndexKind index = IndexKind::kIdx1Relative;
  IndexDamage index_damage = IndexDamage::kNone;
  std::vector<int> drop_frames;  // frames written as empty picture chunks
  // Puts an odd-sized JUNK chunk and an odd-sized unknown chunk (each with
  // its pad byte) into hdrl and before every frame's chunks in movi.
  bool odd_chunks = false;
  // OpenDML: 0 writes a plain AVI file. N >= 1 splits the frames into N RIFF
  // parts (the first 'AVI ', the rest 'AVIX'), adds odml/dmlh, an indx super
  // index to each strl and, at the end of each part's movi list, one ix##
  // standard index per stream, as ffmpeg does past 1 GiB. idx1 (if any)
  // covers the first part only and avih.dwTotalFrames counts its frames.
  int odml_parts = 0;
  OdmlDamage odml_damage = OdmlDamage::kNone;
  std::optional<std::uint64_t> truncate_at;
};

struct Bgr {
  std::uint8_t b, g, r;
  bool operator==(const Bgr&) const = default;
};

// The whole file.
std::vector<std::uint8_t> WriteMovie(const MovieOptions& options);
// Writes the file to `path`; false when it cannot be written.
bool WriteMovieFile(const MovieOptions& options, const std::string& path);

// The colour written for frame f at (x, y), y = 0 the top row (see above).
Bgr ContentPixel(const MovieOptions& options, int frame, int x, int y);
// The frame whose picture frame f shows: f itself, or for a drop frame the
// last earlier frame that is not dropped; -1 when there is none.
int ShownFrame(const MovieOptions& options, int frame);
// The colour a reader must show for frame f at (x, y): ContentPixel of
// ShownFrame(f). Only meaningful when ShownFrame(f) >= 0.
Bgr ExpectedPixel(const MovieOptions& options, int frame, int x, int y);

// The sound stream's geometry.
int SoundBlockAlign(const MovieOptions& options);  // bytes a sample
std::uint64_t SoundTotalSamples(const MovieOptions& options);
// Byte k of the sound stream.
std::uint8_t SoundByte(std::uint64_t k);
// The bytes of up to `count` samples from sample `first`, cut at the end.
std::vector<std::uint8_t> ExpectedSound(const MovieOptions& options,
                                        std::uint64_t first,
                                        std::uint64_t count);

}  // namespace test_movies

#endif  // KESTRIX_TESTS_MOVIE_WRITER_H_
