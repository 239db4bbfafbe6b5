#include "avi/codec_map.h"

#include <cstdio>

#include "avi/avifile.h"

namespace avi {
namespace {

struct TagEntry {
  AVCodecID id;
  std::uint32_t tag;
};

// FFmpeg's AVI picture tags, in its order (copied from libavformat at build
// time by riff_tags_gen, so the module need not load libavformat).
constexpr TagEntry kRiffVideoTags[] = {
#include "riff_video_tags.inc"
};

// ASCII letters only, byte by byte, as FFmpeg compares tags.
constexpr std::uint32_t UpperCase(std::uint32_t tag) {
  std::uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t c = (tag >> (8 * i)) & 0xFFu;
    if (c >= 'a' && c <= 'z') c -= 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}

// The first entry with the tag itself, else the first whose tag matches it
// regardless of case ("xvid", "mjpg"): FFmpeg's own lookup order.
AVCodecID LookUp(std::uint32_t tag) {
  if (tag == 0 || tag == BI_RGB || tag == BI_BITFIELDS) return AV_CODEC_ID_NONE;
  for (const TagEntry& e : kRiffVideoTags) {
    if (e.tag == tag) return e.id;
  }
  const std::uint32_t upper = UpperCase(tag);
  for (const TagEntry& e : kRiffVideoTags) {
    if (UpperCase(e.tag) == upper) return e.id;
  }
  return AV_CODEC_ID_NONE;
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
