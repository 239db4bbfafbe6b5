// FindPictureCodec against libavformat's own lookup of AVI picture tags.
#include "avi/codec_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "avi/avifile.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr std::uint32_t Tag(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

AVCodecID FfmpegLookUp(std::uint32_t tag) {
  const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
  return av_codec_get_id(tables, tag);
}

std::uint32_t Lower(std::uint32_t tag) {
  std::uint32_t out = 0;
  for (int i = 0; i < 4; ++i) {
    std::uint32_t c = (tag >> (8 * i)) & 0xFFu;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    out |= c << (8 * i);
  }
  return out;
}

// Tags FFmpeg knows, their lower-case forms, and tags it does not know.
std::vector<std::uint32_t> Probes() {
  std::vector<std::uint32_t> tags;
  const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
  for (std::uint32_t code = 1; code < 512; ++code) {
    std::uint32_t tag = 0;
    if (av_codec_get_tag2(tables, static_cast<AVCodecID>(code), &tag)) {
      tags.push_back(tag);
      tags.push_back(Lower(tag));
    }
  }
  for (std::uint32_t t : {Tag('M', 'J', 'P', 'G'), Tag('m', 'j', 'p', 'g'), Tag('x', 'v', 'i', 'd'),
                          Tag('X', 'V', 'I', 'D'), Tag('d', 'i', 'v', 'x'), Tag('H', '2', '6', '4'),
                          Tag('a', 'v', 'c', '1'), Tag('Z', 'Z', 'Z', 'Z'), Tag('d', 'i', 'b', ' '),
                          std::uint32_t{1}, std::uint32_t{2}, std::uint32_t{0xFFFFFFFF}}) {
    tags.push_back(t);
  }
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) tags.push_back(static_cast<std::uint32_t>(random()));
  return tags;
}

TEST(CodecMap, FindsWhatLibavformatFinds) {
  const std::vector<std::uint32_t> probes = Probes();
  ASSERT_GT(probes.size(), 2100u);
  int known = 0;
  for (std::uint32_t tag : probes) {
    const AVCodecID want = (tag == BI_RGB || tag == BI_BITFIELDS) ? AV_CODEC_ID_NONE : FfmpegLookUp(tag);
    const avi::PictureCodec got = avi::FindPictureCodec(tag, 0);
    EXPECT_EQ(got.id, want) << avi::FourccText(tag);
    if (want != AV_CODEC_ID_NONE) {
      EXPECT_EQ(got.tag, tag);
      ++known;
    }
  }
  EXPECT_GT(known, 100);
}

TEST(CodecMap, FallsBackToTheHandler) {
  const avi::PictureCodec c = avi::FindPictureCodec(Tag('Z', 'Z', 'Z', 'Z'), Tag('m', 'j', 'p', 'g'));
  EXPECT_EQ(c.id, AV_CODEC_ID_MJPEG);
  EXPECT_EQ(c.tag, Tag('m', 'j', 'p', 'g'));
  EXPECT_EQ(avi::FindPictureCodec(BI_RGB, Tag('M', 'J', 'P', 'G')).id, AV_CODEC_ID_NONE);
  EXPECT_EQ(avi::FindPictureCodec(Tag('Z', 'Z', 'Z', 'Z'), 0).id, AV_CODEC_ID_NONE);
}

}  // namespace
