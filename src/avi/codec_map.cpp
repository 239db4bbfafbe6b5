#include "avi/codec_map.h"

#include <cstdio>

#include "avi/avifile.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace avi {
namespace {

AVCodecID LookUp(std::uint32_t tag) {
  if (tag == 0 || tag == BI_RGB || tag == BI_BITFIELDS) return AV_CODEC_ID_NONE;
  const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
  // av_codec_get_id also tries the tag in upper case ("xvid", "mjpg").
  return av_codec_get_id(tables, tag);
}

}  // namespace

PictureCodec FindPictureCodec(std::uint32_t compression, std::uint32_t handler) {
  if (compression == BI_RGB || compression == BI_BITFIELDS) return {};
  if (AVCodecID id = LookUp(compression); id != AV_CODEC_ID_NONE) return {id, compression};
  if (AVCodecID id = LookUp(handler); id != AV_CODEC_ID_NONE) return {id, handler};
  return {};
}

std::string FourccText(std::uint32_t tag) {
  char text[16];
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    unsigned c = (tag >> (8 * i)) & 0xFFu;
    if (c < 0x20 || c > 0x7E) printable = false;
    text[i] = static_cast<char>(c);
  }
  if (printable) return std::string(text, 4);
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(tag));
  return text;
}

}  // namespace avi
