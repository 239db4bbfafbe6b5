// The files kestrix-inspect writes: WAV, AVI, PNG, and the rule that a
// failed write leaves nothing under the asked-for name.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "inspect/avi_out.h"
#include "inspect/font.h"
#include "inspect/output_file.h"
#include "inspect/png_out.h"
#include "inspect/sheet.h"
#include "inspect/sound_format.h"
#include "inspect/wav_out.h"

namespace inspect {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/kestrix-inspect-test-XXXXXX";
    path_ = ::mkdtemp(name);
  }
  ~TempDir() { fs::remove_all(path_); }
  std::string operator/(const std::string& n) const { return path_ + "/" + n; }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(path_), fs::directory_iterator()));
  }

 private:
  std::string path_;
};

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
std::string Id(const Bytes& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

struct FormatCase {
  const char* name;
  std::uint16_t channels, bits;
  std::uint32_t rate;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class WavFormatTest : public ::testing::TestWithParam<FormatCase> {};

// The sound lasts as long as the pictures whatever the layout: 17,640
// bytes a second, the rate following from the sample frame size.
TEST_P(WavFormatTest, HeaderDescribesTheFormatAndBytesAreCopied) {
  const FormatCase& c = GetParam();
  auto f = ParseSoundFormat(c.name);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->name(), c.name);
  TempDir dir;
  WavWriter w(dir / "s.wav", *f);
  Bytes sound(1960 * 3);
  for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<std::uint8_t>(i * 13);
  ASSERT_TRUE(w.Open().ok);
  ASSERT_TRUE(w.Append({sound.data(), 1960}).ok);
  ASSERT_TRUE(w.Append({sound.data() + 1960, 3920}).ok);
  ASSERT_TRUE(w.Finish().ok);
  const Bytes b = ReadAll(dir / "s.wav");
  ASSERT_EQ(b.size(), 44 + sound.size());
  EXPECT_EQ(Id(b, 0), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8);
  EXPECT_EQ(Id(b, 8), "WAVE");
  EXPECT_EQ(U16(b, 20), 1);
  EXPECT_EQ(U16(b, 22), c.channels);
  EXPECT_EQ(U32(b, 24), c.rate);
  EXPECT_EQ(U32(b, 28), 17640u);
  EXPECT_EQ(U16(b, 32), c.channels * c.bits / 8);
  EXPECT_EQ(U16(b, 34), c.bits);
  EXPECT_EQ(U32(b, 40), sound.size());
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), b.begin() + 44));
}

INSTANTIATE_TEST_SUITE_P(Formats, WavFormatTest,
                         ::testing::Values(FormatCase{"u8-stereo", 2, 8, 8820}, FormatCase{"u8-mono", 1, 8, 17640},
                                           FormatCase{"s16-mono", 1, 16, 8820},
                                           FormatCase{"s16-stereo", 2, 16, 4410}),
                         [](const auto& info) {
                           std::string n = info.param.name;
                           n.erase(std::remove(n.begin(), n.end(), '-'), n.end());
                           return n;
                         });

TEST(SoundFormat, RejectsUnknownNames) {
  EXPECT_FALSE(ParseSoundFormat("u8"));
  EXPECT_FALSE(ParseSoundFormat("s24-stereo"));
  EXPECT_FALSE(ParseSoundFormat(""));
}

// The AVI's chunk structure, walked the way a reader would: sizes add up,
// the index points at the chunks, pictures are bottom-up BGR.
TEST(AviWriter, WritesAConsistentFile) {
  TempDir dir;
  const AviLayout layout{6, 2, 9, SoundFormat{2, 8}};
  AviWriter w(dir / "m.avi", layout);
  ASSERT_TRUE(w.Open().ok);
  Bytes rgb(6 * 2 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i);
  const Bytes sound(1960, 0x80);
  for (int f = 0; f < 3; ++f) ASSERT_TRUE(w.AddFrame(rgb, sound).ok);
  ASSERT_TRUE(w.Finish().ok);
  const Bytes b = ReadAll(dir / "m.avi");
  EXPECT_EQ(b.size(), AviFileBytes(layout, 3, 1960));
  ASSERT_GT(b.size(), 400u);
  EXPECT_EQ(Id(b, 0), "RIFF");
  EXPECT_EQ(U32(b, 4), b.size() - 8);
  EXPECT_EQ(Id(b, 8), "AVI ");
  EXPECT_EQ(Id(b, 12), "LIST");
  EXPECT_EQ(Id(b, 20), "hdrl");
  EXPECT_EQ(Id(b, 24), "avih");
  EXPECT_EQ(U32(b, 32 + 16), 3u);  // dwTotalFrames
  const std::size_t movi_list = 20 + U32(b, 16);
  ASSERT_EQ(Id(b, movi_list), "LIST");
  ASSERT_EQ(Id(b, movi_list + 8), "movi");
  const std::size_t movi_id = movi_list + 8;
  const std::size_t idx = movi_id + U32(b, movi_list + 4);
  ASSERT_EQ(Id(b, idx), "idx1");
  ASSERT_EQ(U32(b, idx + 4), 6u * 16);
  for (int e = 0; e < 6; ++e) {
    const std::size_t entry = idx + 8 + 16 * e;
    const std::size_t chunk = movi_id + U32(b, entry + 8);
    EXPECT_EQ(Id(b, entry), e % 2 ? "01wb" : "00dc");
    EXPECT_EQ(Id(b, chunk), Id(b, entry));
    EXPECT_EQ(U32(b, chunk + 4), U32(b, entry + 12));
  }
  // First picture chunk: 2 rows of 18 bytes padded to 20, bottom row first.
  const std::size_t pic = movi_id + 4 + 8;
  EXPECT_EQ(U32(b, pic - 4), 40u);
  EXPECT_EQ(b[pic + 0], rgb[18 + 2]);  // bottom line's first pixel, blue first
  EXPECT_EQ(b[pic + 2], rgb[18 + 0]);
  EXPECT_EQ(b[pic + 20], rgb[2]);      // then the top line
}

TEST(AviWriter, SizeLimitIsKnownBeforeWriting) {
  const AviLayout layout{432, 160, 9, SoundFormat{2, 8}};
  const std::uint64_t per_frame = AviFileBytes(layout, 2, 1960) - AviFileBytes(layout, 1, 1960);
  EXPECT_EQ(per_frame, 8u + 207360 + 16 + 8 + 1960 + 16);
  EXPECT_GT(AviFileBytes(layout, 6000, 1960), kMaxAviBytes);
  EXPECT_LT(AviFileBytes(layout, 5000, 1960), kMaxAviBytes);
}

TEST(Png, WrittenPictureReadsBack) {
  TempDir dir;
  Bytes rgb(5 * 3 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 17);
  ASSERT_TRUE(WritePng(dir / "p.png", 5, 3, rgb).ok);
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir / "p.png").c_str()));
  image.format = PNG_FORMAT_RGB;
  EXPECT_EQ(image.width, 5u);
  EXPECT_EQ(image.height, 3u);
  Bytes back(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, back.data(), 0, nullptr));
  EXPECT_EQ(back, rgb);
  EXPECT_EQ(dir.entries(), 1u);  // no temporary file left beside it
}

TEST(OutputFile, NothingAppearsUnlessCommitted) {
  TempDir dir;
  {
    OutputFile f(dir / "x.bin");
    ASSERT_TRUE(f.Open().ok);
    const Bytes some(100, 1);
    ASSERT_TRUE(f.Write(some).ok);
    EXPECT_EQ(dir.entries(), 1u);  // only the temporary file
  }
  EXPECT_EQ(dir.entries(), 0u);
  EXPECT_FALSE(fs::exists(dir / "x.bin"));
}

TEST(OutputFile, FailureNamesTheFileAndTheReason) {
  const Status s = WritePng("/nonexistent-dir/p.png", 1, 1, Bytes(3));
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.message, "cannot write '/nonexistent-dir/p.png': No such file or directory");
}

TEST(Sheet, DefaultStepKeepsSixtyPicturesAtMost) {
  EXPECT_EQ(DefaultSheetStep(1), 1u);
  EXPECT_EQ(DefaultSheetStep(60), 1u);
  EXPECT_EQ(DefaultSheetStep(61), 2u);
  for (std::uint64_t n : {61u, 119u, 1000u, 40000u}) {
    const std::uint64_t k = DefaultSheetStep(n);
    EXPECT_LE((n + k - 1) / k, 60u) << n;
    EXPECT_GT((n + k - 2) / (k - 1), 60u) << n;  // one less would be too many
  }
}

TEST(Font, DrawsDigitsInsideTheirBox) {
  const int w = 20, h = 8;
  Bytes rgb(w * h * 3, 0);
  const std::uint8_t white[3] = {255, 255, 255};
  DrawNumber(rgb, w, h, 1, 1, 10, 1, white);
  EXPECT_EQ(NumberWidth(10, 1), 7);
  int lit = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (!rgb[(y * w + x) * 3]) continue;
      ++lit;
      EXPECT_TRUE(x >= 1 && x < 8 && y >= 1 && y < 6) << x << "," << y;
    }
  }
  EXPECT_EQ(lit, 8 + 12);  // "1" has 8 lit pixels, "0" has 12
  DrawNumber(rgb, w, h, 18, 6, 88, 3, white);  // mostly outside: clipped, no crash
}

}  // namespace
}  // namespace inspect
