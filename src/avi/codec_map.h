// Which of FFmpeg's decoders reads a compressed picture stream.
//
// A picture stream names its codec twice: the strf header's biCompression
// and the strh header's fccHandler. FindPictureCodec looks the first up in
// the RIFF codec tables FFmpeg keeps for AVI files and falls back to the
// second, so that files whose writer left one of them empty or generic still
// find their decoder. Uncompressed bitmaps (BI_RGB, BI_BITFIELDS) are not
// looked up: they are laid out without a decoder.
#ifndef KESTRIX_AVI_CODEC_MAP_H_
#define KESTRIX_AVI_CODEC_MAP_H_

#include <cstdint>
#include <string>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace avi {

struct PictureCodec {
  AVCodecID id = AV_CODEC_ID_NONE;  // AV_CODEC_ID_NONE: nothing matched
  std::uint32_t tag = 0;            // the FOURCC that matched, for codec_tag
};

PictureCodec FindPictureCodec(std::uint32_t compression, std::uint32_t handler);

// A FOURCC for messages: "MJPG" when all four bytes are printable, else
// "0x00000001".
std::string FourccText(std::uint32_t tag);

}  // namespace avi

#endif  // KESTRIX_AVI_CODEC_MAP_H_
