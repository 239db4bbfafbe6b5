#include "track/picture_scale.h"

#include <algorithm>

// SSE2 is in every x86-64 processor; elsewhere (or with KESTRIX_NO_SSE2, to
// check the portable code) plain loops compute exactly the same sums.
#if defined(__SSE2__) && !defined(KESTRIX_NO_SSE2)
#define KESTRIX_SCALE_SSE2 1
#include <emmintrin.h>
#endif

namespace track {

namespace {

// Makes the span's weights sum to exactly kScaleOne, giving any rounding
// residue to the heaviest weight.
void Normalise(std::uint32_t* w, std::int32_t count) {
  std::int64_t sum = 0;
  std::int32_t heaviest = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    sum += w[k];
    if (w[k] > w[heaviest]) heaviest = k;
  }
  w[heaviest] = static_cast<std::uint32_t>(w[heaviest] + (static_cast<std::int64_t>(kScaleOne) - sum));
}

}  // namespace

void BuildAxisFilter(std::int32_t src, std::int32_t dst, AxisFilter& filter) {
  filter.spans.assign(static_cast<std::size_t>(dst), {});
  filter.weights.clear();
  const std::int64_t s = src, d = dst;
  for (std::int64_t j = 0; j < d; ++j) {
    AxisFilter::Span& span = filter.spans[static_cast<std::size_t>(j)];
    span.weights = filter.weights.size();
    if (s >= d) {
      // Area: on a scale where the axis is s * d long, source pixel i
      // covers [i*d, (i+1)*d) and destination pixel j covers [j*s, (j+1)*s).
      const std::int64_t lo = j * s, hi = (j + 1) * s;
      const std::int64_t first = lo / d, last = (hi - 1) / d;
      span.first = static_cast<std::int32_t>(first);
      for (std::int64_t i = first; i <= last; ++i) {
        const std::int64_t overlap = std::min((i + 1) * d, hi) - std::max(i * d, lo);
        filter.weights.push_back(
            static_cast<std::uint32_t>((overlap * kScaleOne + s / 2) / s));
      }
      span.count = static_cast<std::int32_t>(last - first + 1);
    } else {
      // Linear: destination centre j + 1/2 sits at source position
      // (j + 1/2) * s / d - 1/2, that is ((2j + 1) * s - d) / (2d).
      const std::int64_t num = (2 * j + 1) * s - d;
      std::int64_t i0 = 0, frac = 0;
      if (num > 0) {
        i0 = num / (2 * d);
        frac = num % (2 * d);
      }
      if (i0 >= s - 1) {
        i0 = s - 1;
        frac = 0;
      }
      const auto w1 = static_cast<std::uint32_t>((frac * kScaleOne + d) / (2 * d));
      span.first = static_cast<std::int32_t>(i0);
      filter.weights.push_back(kScaleOne - w1);
      span.count = 1;
      if (w1 != 0) {
        filter.weights.push_back(w1);
        span.count = 2;
      }
    }
    Normalise(&filter.weights[span.weights], span.count);
  }
}

int EvenSpans(AxisFilter& filter, std::int32_t src) {
  std::int32_t taps = 1;
  for (const AxisFilter::Span& span : filter.spans) taps = std::max(taps, span.count);
  taps += taps & 1;  // the line pass takes pixels in pairs
  std::vector<std::uint32_t> weights;
  weights.reserve(filter.spans.size() * static_cast<std::size_t>(taps));
  for (AxisFilter::Span& span : filter.spans) {
    // Widen to `taps` pixels with zero weights, moving the start back where
    // the span would run past the last source pixel (a line narrower than
    // `taps` is read past its end with zero weights; see Prepare).
    const std::int32_t first = std::min(span.first, std::max(src - taps, 0));
    const std::uint32_t* old = &filter.weights[span.weights];
    const std::size_t at = weights.size();
    weights.resize(at + static_cast<std::size_t>(taps), 0);
    for (std::int32_t k = 0; k < span.count; ++k) {
      weights[at + static_cast<std::size_t>(span.first - first + k)] = old[k];
    }
    span.first = first;
    span.count = taps;
    span.weights = at;
  }
  filter.weights = std::move(weights);
  return taps;
}

namespace {

// Packs the weights of pixels k and k + 1 into one 32-bit value, k's in
// the low half, as the 16 x 16-bit multiply-add takes them.
std::uint32_t PackPair(std::uint32_t low, std::uint32_t high) { return low | high << 16; }

}  // namespace

void PictureScaler::Prepare(std::int32_t src_width, std::int32_t src_height,
                            std::int32_t dst_width, std::int32_t dst_height) {
  if (src_width == src_width_ && dst_width == dst_width_ && src_height == src_height_ &&
      dst_height == dst_height_) {
    return;
  }
  if (src_width != src_width_ || dst_width != dst_width_) {
    BuildAxisFilter(src_width, dst_width, columns_);
    column_taps_ = EvenSpans(columns_, src_width);
    column_pairs_.resize(columns_.weights.size() / 2);
    for (std::size_t i = 0; i < column_pairs_.size(); ++i) {
      column_pairs_[i] = PackPair(columns_.weights[2 * i], columns_.weights[2 * i + 1]);
    }
    // Room for spans wider than the line, and for the line pass reading a
    // fourth component after a pixel's three; the extra stays zero.
    blend_.assign(3 * static_cast<std::size_t>(std::max(src_width, column_taps_)) + 8, 0);
  }
  if (src_height != src_height_ || dst_height != dst_height_) {
    BuildAxisFilter(src_height, dst_height, lines_);
    lines_held_ = 1;
    for (const AxisFilter::Span& span : lines_.spans) lines_held_ = std::max(lines_held_, span.count);
    const auto pairs = static_cast<std::size_t>((lines_held_ + 1) / 2);
    line_ptrs_.assign(2 * pairs, nullptr);
    line_pairs_.assign(pairs, 0);
  }
  src_width_ = src_width;
  src_height_ = src_height;
  dst_width_ = dst_width;
  dst_height_ = dst_height;
}

namespace {

constexpr int kDrop = kScaleWeightBits - kBlendBits;   // after the column pass
constexpr int kShift = kScaleWeightBits + kBlendBits;  // after the line pass

// The column pass for one destination line: the weighted sum of `pairs`
// pairs of source lines, `weights` packed as PackPair makes them, kept with
// kBlendBits fractional bits (at most 255 << kBlendBits, inside int16).
// Weights are at most kScaleOne and bytes at most 255, so every sum stays
// well inside int32. On x86 a 16 x 16-bit multiply-add weighs eight bytes
// of two lines at once.
void SumColumns(const std::uint8_t* const* lines, const std::uint32_t* weights, int pairs,
                std::int16_t* __restrict blend, std::size_t n) {
  std::size_t x = 0;
#ifdef KESTRIX_SCALE_SSE2
  const __m128i zero = _mm_setzero_si128();
  const __m128i half = _mm_set1_epi32(1 << (kDrop - 1));
  for (; x + 16 <= n; x += 16) {
    __m128i s0 = half, s1 = half, s2 = half, s3 = half;
    for (int p = 0; p < pairs; ++p) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[2 * p] + x));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lines[2 * p + 1] + x));
      const __m128i w = _mm_set1_epi32(static_cast<int>(weights[p]));
      const __m128i a_lo = _mm_unpacklo_epi8(va, zero), a_hi = _mm_unpackhi_epi8(va, zero);
      const __m128i b_lo = _mm_unpacklo_epi8(vb, zero), b_hi = _mm_unpackhi_epi8(vb, zero);
      s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(a_lo, b_lo), w));
      s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(a_lo, b_lo), w));
      s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(a_hi, b_hi), w));
      s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(a_hi, b_hi), w));
    }
    __m128i* out = reinterpret_cast<__m128i*>(blend + x);
    _mm_storeu_si128(out, _mm_packs_epi32(_mm_srai_epi32(s0, kDrop), _mm_srai_epi32(s1, kDrop)));
    _mm_storeu_si128(out + 1,
                     _mm_packs_epi32(_mm_srai_epi32(s2, kDrop), _mm_srai_epi32(s3, kDrop)));
  }
#endif
  for (; x < n; ++x) {
    std::int32_t sum = 1 << (kDrop - 1);
    for (int p = 0; p < pairs; ++p) {
      sum += static_cast<std::int32_t>(weights[p] & 0xFFFF) * lines[2 * p][x] +
             static_cast<std::int32_t>(weights[p] >> 16) * lines[2 * p + 1][x];
    }
    blend[x] = static_cast<std::int16_t>(sum >> kDrop);
  }
}

// The line pass: each destination pixel weighs `taps` (even) neighbouring
// pixels of `blend`, in pairs. On x86 the blue, green, red of two pixels are
// interleaved so that one multiply-add weighs both.
void SumAlong(const AxisFilter& columns, const std::uint32_t* pairs, int taps,
              const std::int16_t* blend, std::uint8_t* __restrict out, std::int32_t width) {
  const int per_pixel = taps / 2;
  const AxisFilter::Span* span = columns.spans.data();
  for (std::int32_t x = 0; x < width; ++x, out += 3, ++span, pairs += per_pixel) {
    const std::int16_t* px = blend + 3 * static_cast<std::size_t>(span->first);
#ifdef KESTRIX_SCALE_SSE2
    __m128i sum = _mm_set1_epi32(1 << (kShift - 1));
    for (int p = 0; p < per_pixel; ++p, px += 6) {
      const __m128i p0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px));
      const __m128i p1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(px + 3));
      const __m128i w = _mm_set1_epi32(static_cast<int>(pairs[p]));
      sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi16(p0, p1), w));
    }
    const __m128i v = _mm_srai_epi32(sum, kShift);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v, v), v);
    const auto bgr = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
    out[0] = static_cast<std::uint8_t>(bgr);
    out[1] = static_cast<std::uint8_t>(bgr >> 8);
    out[2] = static_cast<std::uint8_t>(bgr >> 16);
#else
    std::int32_t sum[3] = {1 << (kShift - 1), 1 << (kShift - 1), 1 << (kShift - 1)};
    for (int p = 0; p < per_pixel; ++p, px += 6) {
      const auto w0 = static_cast<std::int32_t>(pairs[p] & 0xFFFF);
      const auto w1 = static_cast<std::int32_t>(pairs[p] >> 16);
      for (int c = 0; c < 3; ++c) sum[c] += w0 * px[c] + w1 * px[3 + c];
    }
    for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>(sum[c] >> kShift);
#endif
  }
}

}  // namespace

void PictureScaler::Scale(LineSource& source, std::uint8_t* top, std::ptrdiff_t stride) {
  const std::size_t n = 3 * static_cast<std::size_t>(src_width_);
  for (std::int32_t y = 0; y < dst_height_; ++y) {
    // Down the columns: gather the span's lines, in pairs; an odd last one
    // is paired with itself at weight zero.
    const AxisFilter::Span& span = lines_.spans[static_cast<std::size_t>(y)];
    const std::uint32_t* w = &lines_.weights[span.weights];
    int pairs = 0;
    for (std::int32_t k = 0; k < span.count; k += 2, ++pairs) {
      const std::uint8_t* a = source.Line(span.first + k);
      const bool odd = k + 1 == span.count;
      line_ptrs_[2 * pairs] = a;
      line_ptrs_[2 * pairs + 1] = odd ? a : source.Line(span.first + k + 1);
      line_pairs_[pairs] = PackPair(w[k], odd ? 0 : w[k + 1]);
    }
    SumColumns(line_ptrs_.data(), line_pairs_.data(), pairs, blend_.data(), n);
    // Along the line.
    SumAlong(columns_, column_pairs_.data(), column_taps_, blend_.data(),
             top + static_cast<std::ptrdiff_t>(y) * stride, dst_width_);
  }
}

}  // namespace track
