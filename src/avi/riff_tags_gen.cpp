// Build-time tool: writes FFmpeg's table of AVI picture FOURCCs as C++.
//
// The decoder module looks a stream's FOURCC up in the table libavformat
// keeps for AVI files. Linking libavformat at run time for that one table
// would load it and the network and crypto libraries it needs (about 9 MiB
// of resident memory), so the table is copied out of it at build time
// instead, into lines "{AVCodecID(n), 0xTAGu}," in the table's own order.
//
// The table's entries are opaque in FFmpeg's headers; they are read as the
// {codec id, tag} pairs they have always been, ending at AV_CODEC_ID_NONE,
// and the result is checked against av_codec_get_id before it is written: a
// layout that differs fails the build instead of producing a wrong table.
#include <cstdio>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

struct TagEntry {
  AVCodecID id;
  unsigned int tag;
};

constexpr std::size_t kMaxEntries = 100000;

}  // namespace

int main() {
  const auto* entries = reinterpret_cast<const TagEntry*>(avformat_get_riff_video_tags());
  std::vector<TagEntry> table;
  for (std::size_t i = 0; entries && entries[i].id != AV_CODEC_ID_NONE; ++i) {
    if (i == kMaxEntries) {
      std::fprintf(stderr, "riff_tags_gen: the table does not end\n");
      return 1;
    }
    table.push_back(entries[i]);
  }
  if (table.empty()) {
    std::fprintf(stderr, "riff_tags_gen: libavformat gave no table\n");
    return 1;
  }
  // Every tag must map to its first entry's codec, as av_codec_get_id says.
  const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
  for (std::size_t i = 0; i < table.size(); ++i) {
    AVCodecID first = AV_CODEC_ID_NONE;
    for (std::size_t j = 0; j <= i && first == AV_CODEC_ID_NONE; ++j) {
      if (table[j].tag == table[i].tag) first = table[j].id;
    }
    if (av_codec_get_id(tables, table[i].tag) != first) {
      std::fprintf(stderr, "riff_tags_gen: entry %zu does not read back; the table's layout differs\n", i);
      return 1;
    }
  }
  std::printf("// Written by riff_tags_gen from libavformat %s: %zu entries.\n",
              LIBAVFORMAT_IDENT, table.size());
  for (const TagEntry& e : table) {
    std::printf("{AVCodecID(%d), 0x%08Xu},\n", static_cast<int>(e.id), e.tag);
  }
  return 0;
}
