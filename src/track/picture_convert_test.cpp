#include "track/picture_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace track {

// Allocations so far (allocation_count_test_support.cpp).
long AllocationCount();

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Bgr {
  std::uint8_t b = 0, g = 0, r = 0;
  bool operator==(const Bgr&) const = default;
};

// What a test frame looks like; the builder lays it out exactly as long as
// its header implies, so that a read past its end trips the sanitizer.
struct FrameRecipe {
  std::int32_t width = kConformedWidth;
  std::int32_t height = kConformedHeight;
  bool top_down = false;
  int bits = 24;
  std::uint32_t compression = kBiRgb;
  std::uint32_t header_bytes = 40;
  std::uint32_t clr_used = 0;
  std::vector<std::uint32_t> masks;  // written after a 40-byte header, or inside a longer one
  std::vector<Bgr> palette;          // the table written (biClrUsed or 2^bits entries)
};

std::size_t Stride(std::int32_t width, int bits) {
  return ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
}

// Builds the frame; `pixel(x, y, p)` stores the value of visual pixel
// (x, y), y = 0 the top line, into the row at `p` (the pixel's first byte;
// for palette depths, the row itself).
Bytes BuildFrame(const FrameRecipe& s,
                 const std::function<void(std::int32_t, std::int32_t, std::uint8_t*)>& pixel) {
  const std::size_t masks_after = s.header_bytes == 40 ? 4 * s.masks.size() : 0;
  std::size_t table = s.clr_used;
  if (s.bits <= 8 && table == 0) table = std::size_t{1} << s.bits;
  const std::size_t offset = s.header_bytes + masks_after + 4 * table;
  const std::size_t stride = Stride(s.width, s.bits);
  Bytes f(offset + stride * static_cast<std::size_t>(s.height), 0xEE);
  std::fill(f.begin(), f.begin() + s.header_bytes, 0);
  WriteLe32(&f[kBiSizeOffset], s.header_bytes);
  WriteLe32(&f[kBiWidthOffset], static_cast<std::uint32_t>(s.width));
  WriteLe32(&f[kBiHeightOffset], static_cast<std::uint32_t>(s.top_down ? -s.height : s.height));
  WriteLe16(&f[kBiPlanesOffset], 1);
  WriteLe16(&f[kBiBitCountOffset], static_cast<std::uint16_t>(s.bits));
  WriteLe32(&f[kBiCompressionOffset], s.compression);
  WriteLe32(&f[kBiClrUsedOffset], s.clr_used);
  for (std::size_t i = 0; i < s.masks.size(); ++i) WriteLe32(&f[40 + 4 * i], s.masks[i]);
  for (std::size_t i = 0; i < table; ++i) {
    std::uint8_t* q = &f[s.header_bytes + masks_after + 4 * i];
    const Bgr c = i < s.palette.size() ? s.palette[i] : Bgr{};
    q[0] = c.b, q[1] = c.g, q[2] = c.r, q[3] = 0x77;
  }
  for (std::int32_t y = 0; y < s.height; ++y) {
    const std::int32_t stored = s.top_down ? y : s.height - 1 - y;
    std::uint8_t* row = &f[offset + static_cast<std::size_t>(stored) * stride];
    std::fill(row, row + stride, 0);
    for (std::int32_t x = 0; x < s.width; ++x) {
      pixel(x, y, s.bits <= 8 ? row : row + static_cast<std::size_t>(x) * (s.bits / 8));
    }
  }
  return f;
}

// A 24-bit bottom-up frame from visual colours.
Bytes Frame24(std::int32_t width, std::int32_t height,
              const std::function<Bgr(std::int32_t, std::int32_t)>& colour) {
  FrameRecipe s;
  s.width = width;
  s.height = height;
  return BuildFrame(s, [&](std::int32_t x, std::int32_t y, std::uint8_t* p) {
    const Bgr c = colour(x, y);
    p[0] = c.b, p[1] = c.g, p[2] = c.r;
  });
}

// Pixel (x, y) of a conformed picture, y = 0 the top line.
Bgr At(const std::uint8_t* picture, std::int32_t x, std::int32_t y) {
  const std::uint8_t* p = picture + kInfoHeaderBytes +
                          static_cast<std::size_t>(kConformedHeight - 1 - y) * kConformedRowBytes +
                          3 * static_cast<std::size_t>(x);
  return {p[0], p[1], p[2]};
}

std::uint8_t Widen(std::uint32_t v, int bits) {
  const std::uint32_t top = (1u << bits) - 1;
  return static_cast<std::uint8_t>((v * 255 + top / 2) / top);
}

// The fixed header every converted picture carries.
TEST(PictureConverter, ConvertedPictureHasThePackersHeader) {
  PictureConverter converter;
  FrameRecipe s;
  s.top_down = true;
  const Bytes frame = BuildFrame(s, [](std::int32_t, std::int32_t, std::uint8_t*) {});
  const std::uint8_t* out = converter.Conform(frame.data());
  ASSERT_NE(out, nullptr);
  ASSERT_NE(out, frame.data());
  EXPECT_EQ(ReadLe32(out + kBiSizeOffset), 40u);
  EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(out + kBiWidthOffset)), 432);
  EXPECT_EQ(static_cast<std::int32_t>(ReadLe32(out + kBiHeightOffset)), 160);
  EXPECT_EQ(ReadLe16(out + kBiPlanesOffset), 1);
  EXPECT_EQ(ReadLe16(out + kBiBitCountOffset), 24);
  EXPECT_EQ(ReadLe32(out + kBiCompressionOffset), kBiRgb);
  EXPECT_EQ(ReadLe32(out + kBiSizeImageOffset), 207360u);
  EXPECT_EQ(ReadLe32(out + kBiClrUsedOffset), 0u);
}

TEST(PictureConverter, NoFrameIsRefused) {
  PictureConverter converter;
  EXPECT_EQ(converter.Conform(static_cast<const std::uint8_t*>(nullptr)), nullptr);
  EXPECT_STRNE(converter.problem(), "");
}

TEST(PictureConverter, PackersShapePassesThroughUntouched) {
  PictureConverter converter;
  const Bytes frame = Frame24(432, 160, [](std::int32_t x, std::int32_t y) {
    return Bgr{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
               static_cast<std::uint8_t>(x * y)};
  });
  const Bytes before = frame;
  EXPECT_EQ(converter.Conform(frame.data()), frame.data());
  EXPECT_EQ(converter.Conform(std::span<const std::uint8_t>(frame)), frame.data());
  EXPECT_EQ(frame, before);
  EXPECT_STREQ(converter.problem(), "");
}

// ---------------------------------------------------------------------------
// Depths and row orders: each case encodes a pattern in its own depth and
// says which 24-bit colour each pixel must become.

struct DepthCase {
  const char* name;
  FrameRecipe recipe;
  // Stores pixel (x, y) and returns the colour it must come out as.
  std::function<Bgr(std::int32_t x, std::int32_t y, std::uint8_t* p)> encode;
};

std::uint8_t Hash(std::int32_t x, std::int32_t y, int salt) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                    static_cast<std::uint32_t>(y) * 19349663u ^
                    static_cast<std::uint32_t>(salt) * 83492791u;
  h ^= h >> 13;
  h *= 0x5bd1e995u;
  return static_cast<std::uint8_t>(h >> 15);
}

std::vector<Bgr> TestPalette(int n) {
  std::vector<Bgr> p;
  for (int i = 0; i < n; ++i) p.push_back({Hash(i, 1, 7), Hash(i, 2, 7), Hash(i, 3, 7)});
  return p;
}

FrameRecipe Recipe(int bits, std::uint32_t compression, std::vector<std::uint32_t> masks = {},
               std::vector<Bgr> palette = {}, std::uint32_t clr_used = 0,
               std::uint32_t header_bytes = 40) {
  FrameRecipe s;
  s.bits = bits;
  s.compression = compression;
  s.masks = std::move(masks);
  s.palette = std::move(palette);
  s.clr_used = clr_used;
  s.header_bytes = header_bytes;
  return s;
}

// Palette pictures: index from a hash, the pixel put into its place in the row.
DepthCase PaletteCase(const char* name, int bits, std::uint32_t clr_used) {
  const int entries = clr_used ? static_cast<int>(clr_used) : 1 << bits;
  std::vector<Bgr> palette = TestPalette(entries);
  return {name, Recipe(bits, kBiRgb, {}, palette, clr_used),
          [bits, palette](std::int32_t x, std::int32_t y, std::uint8_t* row) {
            const unsigned index = Hash(x, y, bits) & ((1u << bits) - 1);
            const int per_byte = 8 / bits;
            row[x / per_byte] |= static_cast<std::uint8_t>(
                index << (8 - bits * (x % per_byte + 1)));
            return index < palette.size() ? palette[index] : Bgr{};  // beyond: black
          }};
}

std::vector<DepthCase> DepthCases() {
  std::vector<DepthCase> cases;
  cases.push_back({"Rgb24", Recipe(24, kBiRgb), [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const Bgr c{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
                     p[0] = c.b, p[1] = c.g, p[2] = c.r;
                     return c;
                   }});
  // A colour table in front of 24-bit rows moves them off offset 40.
  cases.push_back({"Rgb24WithTable", Recipe(24, kBiRgb, {}, TestPalette(3), 3),
                   [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const Bgr c{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
                     p[0] = c.b, p[1] = c.g, p[2] = c.r;
                     return c;
                   }});
  cases.push_back({"Bgrx32", Recipe(32, kBiRgb), [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const Bgr c{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
                     p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = Hash(x, y, 4);
                     return c;
                   }});
  // Red in the low byte: the masks, not the byte order, decide.
  cases.push_back({"Rgbx32Bitfields", Recipe(32, kBiBitfields, {0x0000FF, 0x00FF00, 0xFF0000}),
                   [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const Bgr c{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
                     p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = Hash(x, y, 4);
                     return c;
                   }});
  // A 124-byte header carries its masks itself.
  cases.push_back({"Bgrx32LongHeader",
                   Recipe(32, kBiBitfields, {0xFF0000, 0x00FF00, 0x0000FF}, {}, 0, 124),
                   [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const Bgr c{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
                     p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0xFF;
                     return c;
                   }});
  // 5-5-5 with the unused top bit set: it must be ignored.
  cases.push_back({"Rgb555", Recipe(16, kBiRgb), [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const std::uint32_t r = Hash(x, y, 1) & 31, g = Hash(x, y, 2) & 31,
                                         b = Hash(x, y, 3) & 31;
                     WriteLe16(p, static_cast<std::uint16_t>(0x8000 | r << 10 | g << 5 | b));
                     return Bgr{Widen(b, 5), Widen(g, 5), Widen(r, 5)};
                   }});
  cases.push_back({"Bitfields565", Recipe(16, kBiBitfields, {0xF800, 0x07E0, 0x001F}),
                   [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const std::uint32_t r = Hash(x, y, 1) & 31, g = Hash(x, y, 2) & 63,
                                         b = Hash(x, y, 3) & 31;
                     WriteLe16(p, static_cast<std::uint16_t>(r << 11 | g << 5 | b));
                     return Bgr{Widen(b, 5), Widen(g, 6), Widen(r, 5)};
                   }});
  cases.push_back({"Bitfields555", Recipe(16, kBiBitfields, {0x7C00, 0x03E0, 0x001F}),
                   [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                     const std::uint32_t r = Hash(x, y, 1) & 31, g = Hash(x, y, 2) & 31,
                                         b = Hash(x, y, 3) & 31;
                     WriteLe16(p, static_cast<std::uint16_t>(r << 10 | g << 5 | b));
                     return Bgr{Widen(b, 5), Widen(g, 5), Widen(r, 5)};
                   }});
  cases.push_back(PaletteCase("Palette8", 8, 0));
  // Only 20 entries: indices beyond the table come out black.
  cases.push_back(PaletteCase("Palette8Short", 8, 20));
  cases.push_back(PaletteCase("Palette4", 4, 0));
  cases.push_back(PaletteCase("Palette1", 1, 0));
  return cases;
}

void PrintTo(const DepthCase& c, std::ostream* os) { *os << c.name; }

struct Shape {
  std::int32_t width, height;
  bool top_down;
};
void PrintTo(const Shape& s, std::ostream* os) {
  *os << s.width << "x" << s.height << (s.top_down ? " top-down" : " bottom-up");
}

class DepthTest : public testing::TestWithParam<std::tuple<DepthCase, Shape>> {};

// At the packer's size every pixel must be exactly its expected colour; at
// other sizes the result must equal that of the same colours given as a
// plain 24-bit frame (the scaler sees the same lines whatever the depth).
TEST_P(DepthTest, ComesOutAsTheExpected24BitPicture) {
  // Plain references, not a structured binding: lambdas capture them.
  const DepthCase& c = std::get<0>(GetParam());
  const Shape& shape = std::get<1>(GetParam());
  FrameRecipe recipe = c.recipe;
  recipe.width = shape.width;
  recipe.height = shape.height;
  recipe.top_down = shape.top_down;
  std::vector<Bgr> expected(static_cast<std::size_t>(shape.width) * shape.height);
  const Bytes frame = BuildFrame(recipe, [&](std::int32_t x, std::int32_t y, std::uint8_t* p) {
    expected[static_cast<std::size_t>(y) * shape.width + x] = c.encode(x, y, p);
  });

  PictureConverter converter;
  const std::uint8_t* out = converter.Conform(std::span<const std::uint8_t>(frame));
  ASSERT_NE(out, nullptr) << converter.problem();

  if (shape.width == kConformedWidth && shape.height == kConformedHeight) {
    for (std::int32_t y = 0; y < kConformedHeight; ++y) {
      for (std::int32_t x = 0; x < kConformedWidth; ++x) {
        ASSERT_EQ(At(out, x, y), expected[static_cast<std::size_t>(y) * shape.width + x])
            << "at " << x << "," << y;
      }
    }
    return;
  }
  const Bytes plain = Frame24(shape.width, shape.height, [&](std::int32_t x, std::int32_t y) {
    return expected[static_cast<std::size_t>(y) * shape.width + x];
  });
  PictureConverter reference;
  const std::uint8_t* want = reference.Conform(plain.data());
  ASSERT_NE(want, nullptr);
  EXPECT_EQ(0, std::memcmp(out, want, kConformedFrameBytes));
}

INSTANTIATE_TEST_SUITE_P(
    Depths, DepthTest,
    testing::Combine(testing::ValuesIn(DepthCases()),
                     testing::Values(Shape{432, 160, false}, Shape{432, 160, true},
                                     Shape{640, 360, true}, Shape{200, 90, false},
                                     Shape{150, 1000, true})),
    [](const testing::TestParamInfo<DepthTest::ParamType>& info) {
      const Shape& s = std::get<1>(info.param);
      return std::string(std::get<0>(info.param).name) + "_" + std::to_string(s.width) + "x" +
             std::to_string(s.height) + (s.top_down ? "TopDown" : "BottomUp");
    });

// ---------------------------------------------------------------------------
// Scaling.

class UniformTest : public testing::TestWithParam<Shape> {};

TEST_P(UniformTest, UniformColourStaysUniform) {
  const Shape s = GetParam();
  const Bgr colour{17, 200, 255};
  const Bytes frame = Frame24(s.width, s.height, [&](std::int32_t, std::int32_t) { return colour; });
  PictureConverter converter;
  const std::uint8_t* out = converter.Conform(frame.data());
  ASSERT_NE(out, nullptr) << converter.problem();
  for (std::int32_t y = 0; y < kConformedHeight; ++y) {
    for (std::int32_t x = 0; x < kConformedWidth; ++x) ASSERT_EQ(At(out, x, y), colour);
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, UniformTest,
                         testing::Values(Shape{640, 360, false}, Shape{320, 240, false},
                                         Shape{1280, 720, false}, Shape{433, 159, false},
                                         Shape{1, 1, false}, Shape{7, 1000, false},
                                         Shape{16384, 2, false}, Shape{3, 16384, false}),
                         [](const testing::TestParamInfo<Shape>& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

// Halving both sides averages each 2 x 2 block exactly (rounding halves up).
TEST(PictureScaler, HalvingAveragesTwoByTwoBlocks) {
  std::mt19937 random(5);
  std::vector<Bgr> source(864 * 320);
  for (Bgr& c : source) {
    c = {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
         static_cast<std::uint8_t>(random())};
  }
  const Bytes frame = Frame24(864, 320, [&](std::int32_t x, std::int32_t y) {
    return source[static_cast<std::size_t>(y) * 864 + x];
  });
  PictureConverter converter;
  const std::uint8_t* out = converter.Conform(frame.data());
  ASSERT_NE(out, nullptr);
  for (std::int32_t y = 0; y < kConformedHeight; ++y) {
    for (std::int32_t x = 0; x < kConformedWidth; ++x) {
      const Bgr* a = &source[static_cast<std::size_t>(2 * y) * 864 + 2 * x];
      const Bgr* b = a + 864;
      const auto mean = [](int p, int q, int r, int s) {
        return static_cast<std::uint8_t>((p + q + r + s + 2) / 4);
      };
      const Bgr want{mean(a[0].b, a[1].b, b[0].b, b[1].b), mean(a[0].g, a[1].g, b[0].g, b[1].g),
                     mean(a[0].r, a[1].r, b[0].r, b[1].r)};
      ASSERT_EQ(At(out, x, y), want) << "at " << x << "," << y;
    }
  }
}

// A source pixel straddling two destination pixels counts in each by the
// part it covers: 3 source pixels onto 2, the middle one split in halves.
TEST(PictureScaler, AreaWeightsFollowCoverage) {
  AxisFilter f;
  BuildAxisFilter(3, 2, f);
  ASSERT_EQ(f.spans.size(), 2u);
  EXPECT_EQ(f.spans[0].first, 0);
  EXPECT_EQ(f.spans[0].count, 2);
  EXPECT_EQ(f.weights[f.spans[0].weights], kScaleOne * 2 / 3 + 1);  // 10923
  EXPECT_EQ(f.weights[f.spans[0].weights + 1], kScaleOne / 3);      // 5461
  EXPECT_EQ(f.spans[1].first, 1);
  EXPECT_EQ(f.spans[1].count, 2);
}

// Growing blends the two nearest source pixels, centres aligned, and holds
// the edge pixels at the borders.
TEST(PictureScaler, GrowingBlendsNeighbours) {
  AxisFilter f;
  BuildAxisFilter(2, 4, f);  // centres at -0.25, 0.25, 0.75, 1.25
  ASSERT_EQ(f.spans.size(), 4u);
  EXPECT_EQ(f.spans[0].count, 1);
  EXPECT_EQ(f.spans[0].first, 0);
  EXPECT_EQ(f.spans[1].first, 0);
  ASSERT_EQ(f.spans[1].count, 2);
  EXPECT_EQ(f.weights[f.spans[1].weights], kScaleOne * 3 / 4);
  EXPECT_EQ(f.weights[f.spans[2].weights], kScaleOne / 4);
  EXPECT_EQ(f.spans[3].count, 1);
  EXPECT_EQ(f.spans[3].first, 1);
}

// Against FFmpeg's own area scaling of its test picture: the packer keeps
// the top four bits of each component, and nearly all of those must agree.
class FfmpegTest : public testing::TestWithParam<Shape> {};

bool RunToBytes(const std::string& command, Bytes& out) {
#ifdef _WIN32
  FILE* pipe = _popen(command.c_str(), "rb");
#else
  FILE* pipe = popen(command.c_str(), "r");
#endif
  if (!pipe) return false;
  std::uint8_t buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.insert(out.end(), buffer, buffer + n);
#ifdef _WIN32
  return _pclose(pipe) == 0;
#else
  return pclose(pipe) == 0;
#endif
}

TEST_P(FfmpegTest, AgreesWithFfmpegAreaScaling) {
  const Shape s = GetParam();
  const std::string size = std::to_string(s.width) + "x" + std::to_string(s.height);
  Bytes source;
  if (!RunToBytes("ffmpeg -v error -f lavfi -i testsrc2=size=" + size +
                      " -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null",
                  source) ||
      source.size() != static_cast<std::size_t>(s.width) * s.height * 3) {
    GTEST_SKIP() << "ffmpeg not available";
  }
  // FFmpeg scales the very bytes we convert.
  // Unique, as several test runs may share the temporary folder.
  const std::string raw = testing::TempDir() + "picture_convert_" + size + "_" +
                          std::to_string(std::random_device{}()) + ".raw";
  FILE* f = std::fopen(raw.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(source.data(), 1, source.size(), f), source.size());
  std::fclose(f);
  Bytes reference;
  const bool ran = RunToBytes("ffmpeg -v error -f rawvideo -pix_fmt bgr24 -s " + size + " -i " +
                                  raw + " -vf scale=432:160:flags=area -f rawvideo -pix_fmt bgr24 -",
                              reference);
  std::remove(raw.c_str());
  ASSERT_TRUE(ran);
  ASSERT_EQ(reference.size(), kConformedImageBytes);

  const Bytes frame = Frame24(s.width, s.height, [&](std::int32_t x, std::int32_t y) {
    const std::uint8_t* p = &source[(static_cast<std::size_t>(y) * s.width + x) * 3];
    return Bgr{p[0], p[1], p[2]};
  });
  PictureConverter converter;
  const std::uint8_t* out = converter.Conform(frame.data());
  ASSERT_NE(out, nullptr);
  std::size_t same_nibble = 0, total = 0;
  int worst = 0;
  for (std::int32_t y = 0; y < kConformedHeight; ++y) {
    for (std::size_t i = 0; i < kConformedRowBytes; ++i, ++total) {
      const std::uint8_t ours = out[kInfoHeaderBytes +
                                    (kConformedHeight - 1 - y) * kConformedRowBytes + i];
      const std::uint8_t theirs = reference[y * kConformedRowBytes + i];
      same_nibble += (ours >> 4) == (theirs >> 4);
      worst = std::max(worst, std::abs(ours - theirs));
    }
  }
  const double agree = static_cast<double>(same_nibble) / static_cast<double>(total);
  std::printf("%s: %.4f of 4-bit samples equal, largest difference %d\n", size.c_str(), agree,
              worst);
  EXPECT_GE(agree, 0.995);
  EXPECT_LE(worst, 12);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FfmpegTest,
                         testing::Values(Shape{640, 360, false}, Shape{320, 240, false},
                                         Shape{1280, 720, false}),
                         [](const testing::TestParamInfo<Shape>& info) {
                           return std::to_string(info.param.width) + "x" +
                                  std::to_string(info.param.height);
                         });

// ---------------------------------------------------------------------------
// Buffers and refusals.

// After the first frame of a shape, converting more allocates nothing; a
// change of shape and back gives the same pictures as a fresh converter.
TEST(PictureConverter, SameShapeAllocatesNothingAndShapeChangesAreClean) {
  const auto pattern = [](std::int32_t x, std::int32_t y) {
    return Bgr{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
  };
  const Bytes wide = Frame24(640, 360, pattern);
  FrameRecipe r16 = Recipe(16, kBiBitfields, {0xF800, 0x07E0, 0x001F});
  r16.width = 320;
  r16.height = 240;
  r16.top_down = true;
  const Bytes small = BuildFrame(r16, [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
    WriteLe16(p, static_cast<std::uint16_t>(Hash(x, y, 9) << 8 | Hash(x, y, 8)));
  });

  PictureConverter converter;
  ASSERT_NE(converter.Conform(wide.data()), nullptr);
  ASSERT_NE(converter.Conform(small.data()), nullptr);
  const long before = AllocationCount();
  const std::uint8_t* again = converter.Conform(small.data());
  const std::uint8_t* again2 = converter.Conform(small.data());
  EXPECT_EQ(AllocationCount(), before);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again, again2);

  const Bytes small_out(again, again + kConformedFrameBytes);
  const std::uint8_t* wide_out = converter.Conform(wide.data());
  ASSERT_NE(wide_out, nullptr);
  PictureConverter fresh;
  EXPECT_EQ(0, std::memcmp(wide_out, fresh.Conform(wide.data()), kConformedFrameBytes));
  PictureConverter fresh2;
  EXPECT_EQ(0, std::memcmp(small_out.data(), fresh2.Conform(small.data()), kConformedFrameBytes));
}

struct Refusal {
  const char* name;
  std::function<void(Bytes&)> spoil;  // applied to a good 24-bit 16 x 8 frame
};
void PrintTo(const Refusal& r, std::ostream* os) { *os << r.name; }

class RefusalTest : public testing::TestWithParam<Refusal> {};

TEST_P(RefusalTest, ReturnsNullWithAReason) {
  FrameRecipe s;
  s.width = 16;
  s.height = 8;
  Bytes frame = BuildFrame(s, [](std::int32_t, std::int32_t, std::uint8_t*) {});
  GetParam().spoil(frame);
  PictureConverter converter;
  EXPECT_EQ(converter.Conform(std::span<const std::uint8_t>(frame)), nullptr);
  EXPECT_STRNE(converter.problem(), "");
}

void Put32(Bytes& f, std::size_t at, std::uint32_t v) { WriteLe32(&f[at], v); }
void Put16(Bytes& f, std::size_t at, std::uint16_t v) { WriteLe16(&f[at], v); }

INSTANTIATE_TEST_SUITE_P(
    Frames, RefusalTest,
    testing::Values(
        Refusal{"ZeroWidth", [](Bytes& f) { Put32(f, kBiWidthOffset, 0); }},
        Refusal{"NegativeWidth", [](Bytes& f) { Put32(f, kBiWidthOffset, static_cast<std::uint32_t>(-16)); }},
        Refusal{"HugeWidth", [](Bytes& f) { Put32(f, kBiWidthOffset, 16385); }},
        Refusal{"ZeroHeight", [](Bytes& f) { Put32(f, kBiHeightOffset, 0); }},
        Refusal{"HugeHeight", [](Bytes& f) { Put32(f, kBiHeightOffset, 0x7FFFFFFF); }},
        Refusal{"HugeTopDownHeight", [](Bytes& f) { Put32(f, kBiHeightOffset, static_cast<std::uint32_t>(-16385)); }},
        Refusal{"MostNegativeHeight", [](Bytes& f) { Put32(f, kBiHeightOffset, 0x80000000u); }},
        Refusal{"FourCcCompression", [](Bytes& f) { Put32(f, kBiCompressionOffset, 0x47504A4D); }},
        Refusal{"RunLength8", [](Bytes& f) { Put32(f, kBiCompressionOffset, 1); }},
        Refusal{"Bitfields24", [](Bytes& f) { Put32(f, kBiCompressionOffset, kBiBitfields); }},
        Refusal{"Depth12", [](Bytes& f) { Put16(f, kBiBitCountOffset, 12); }},
        Refusal{"Depth0", [](Bytes& f) { Put16(f, kBiBitCountOffset, 0); }},
        Refusal{"CoreHeader", [](Bytes& f) { Put32(f, kBiSizeOffset, 12); }},
        Refusal{"HugeHeader", [](Bytes& f) { Put32(f, kBiSizeOffset, 1u << 20); }},
        Refusal{"HugeColourTable", [](Bytes& f) { Put32(f, kBiClrUsedOffset, 0xFFFFFFFF); }},
        // Rows the span does not hold: 16 x 9 needs one row more.
        Refusal{"Truncated", [](Bytes& f) { Put32(f, kBiHeightOffset, 9); }},
        Refusal{"ShorterThanHeader", [](Bytes& f) { f.resize(39); }},
        // 16-bit masks that are zero, broken, overlapping or too wide.
        Refusal{"ZeroMask", [](Bytes& f) {
                  Put16(f, kBiBitCountOffset, 16); Put32(f, kBiCompressionOffset, kBiBitfields);
                  Put32(f, 40, 0xF800); Put32(f, 44, 0); Put32(f, 48, 0x1F); }},
        Refusal{"BrokenMask", [](Bytes& f) {
                  Put16(f, kBiBitCountOffset, 16); Put32(f, kBiCompressionOffset, kBiBitfields);
                  Put32(f, 40, 0xF800); Put32(f, 44, 0x05E0); Put32(f, 48, 0x1F); }},
        Refusal{"OverlappingMasks", [](Bytes& f) {
                  Put16(f, kBiBitCountOffset, 16); Put32(f, kBiCompressionOffset, kBiBitfields);
                  Put32(f, 40, 0xFC00); Put32(f, 44, 0x07E0); Put32(f, 48, 0x1F); }},
        Refusal{"MaskBeyondPixel", [](Bytes& f) {
                  Put16(f, kBiBitCountOffset, 16); Put32(f, kBiCompressionOffset, kBiBitfields);
                  Put32(f, 40, 0xF8000); Put32(f, 44, 0x07E0); Put32(f, 48, 0x1F); }},
        Refusal{"MasksHeaderTooShort", [](Bytes& f) {
                  Put32(f, kBiSizeOffset, 44); Put16(f, kBiBitCountOffset, 16);
                  Put32(f, kBiCompressionOffset, kBiBitfields); }}),
    [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

// Not registered as a normal run: times the main paths.
// Run with --gtest_also_run_disabled_tests --gtest_filter=*Timing*.
TEST(PictureConverter, DISABLED_Timing) {
  const auto pattern = [](std::int32_t x, std::int32_t y) {
    return Bgr{Hash(x, y, 1), Hash(x, y, 2), Hash(x, y, 3)};
  };
  struct Timed {
    const char* name;
    Bytes frame;
  };
  FrameRecipe r16 = Recipe(16, kBiRgb);
  r16.width = 640;
  r16.height = 360;
  FrameRecipe flip = Recipe(24, kBiRgb);
  flip.top_down = true;
  std::vector<Timed> frames;
  frames.push_back({"640x360 24-bit", Frame24(640, 360, pattern)});
  frames.push_back({"640x360 16-bit", BuildFrame(r16, [](std::int32_t x, std::int32_t y, std::uint8_t* p) {
                      WriteLe16(p, static_cast<std::uint16_t>(Hash(x, y, 1) << 8 | Hash(x, y, 2)));
                    })});
  frames.push_back({"320x240 24-bit", Frame24(320, 240, pattern)});
  frames.push_back({"1280x720 24-bit", Frame24(1280, 720, pattern)});
  frames.push_back({"432x160 24-bit top-down", BuildFrame(flip, [](std::int32_t, std::int32_t, std::uint8_t*) {})});
  // The best of many batches, so that other work on the machine counts
  // as little as possible.
  PictureConverter converter;
  for (const Timed& t : frames) {
    converter.Conform(t.frame.data());
    constexpr int kBatches = 2000, kRounds = 1;
    double best = 1e30;
    std::uint32_t sink = 0;
    for (int batch = 0; batch < kBatches; ++batch) {
      const auto start = std::chrono::steady_clock::now();
      for (int i = 0; i < kRounds; ++i) sink += converter.Conform(t.frame.data())[100];
      const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count() / kRounds);
    }
    std::printf("%-26s %8.1f us a frame (%u)\n", t.name, best, sink & 1);
  }
}

}  // namespace
}  // namespace track
