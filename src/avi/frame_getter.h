// Picture getters: turn a picture stream's chunks into bitmaps.
//
// A FrameGetter belongs to one picture stream. Get(i) returns frame i as a
// packed bitmap (BITMAPINFOHEADER, the colour table it declares, then the
// rows), owned by the getter and valid until the next Get or the getter's
// destruction; nullptr when frame i has no picture (past the end, unreadable,
// undecodable, or an empty first chunk). An empty chunk after the first is a
// drop frame and shows the previous picture again.
//
// The getter borrows the FileReader and the StreamIndex; both outlive it.
#ifndef KESTRIX_AVI_FRAME_GETTER_H_
#define KESTRIX_AVI_FRAME_GETTER_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "avi/avifile.h"
#include "avi/file_reader.h"
#include "avi/stream_index.h"

namespace avi {

// What a getter needs to know of its stream.
struct PictureStream {
  const FileReader* file = nullptr;
  const StreamIndex* index = nullptr;
  std::uint32_t handler = 0;               // strh fccHandler
  std::span<const std::uint8_t> format;    // the whole strf chunk
  BITMAPINFOHEADER header{};               // its first 40 bytes
  std::int32_t length = 0;                 // strh dwLength
};

class FrameGetter {
 public:
  virtual ~FrameGetter() = default;
  virtual const std::uint8_t* Get(std::int32_t i) = 0;
};

// Getter for uncompressed streams; nullptr (with a reason in *why) when the
// stream is compressed or its format cannot be laid out.
std::unique_ptr<FrameGetter> OpenUncompressedGetter(const PictureStream& s,
                                                    std::string* why);

// Getter for compressed streams through the built-in decoders; nullptr (with
// a reason in *why) when no decoder handles the stream's codec, or when the
// program was built without decoders.
std::unique_ptr<FrameGetter> OpenDecodingGetter(const PictureStream& s,
                                                std::string* why);

}  // namespace avi

#endif  // KESTRIX_AVI_FRAME_GETTER_H_
