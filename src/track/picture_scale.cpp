#include "track/picture_scale.h"

#include <algorithm>

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

void PictureScaler::Prepare(std::int32_t src_width, std::int32_t src_height,
                            std::int32_t dst_width, std::int32_t dst_height) {
  if (src_width == src_width_ && dst_width == dst_width_ && src_height == src_height_ &&
      dst_height == dst_height_) {
    return;
  }
  if (src_width != src_width_ || dst_width != dst_width_) {
    BuildAxisFilter(src_width, dst_width, columns_);
    sums_.assign(3 * static_cast<std::size_t>(src_width), 0);
    blend_.assign(3 * static_cast<std::size_t>(src_width), 0);
  }
  if (src_height != src_height_ || dst_height != dst_height_) {
    BuildAxisFilter(src_height, dst_height, lines_);
  }
  src_width_ = src_width;
  src_height_ = src_height;
  dst_width_ = dst_width;
  dst_height_ = dst_height;
}

void PictureScaler::Scale(LineSource& source, std::uint8_t* top, std::ptrdiff_t stride) {
  const std::size_t n = sums_.size();
  std::uint32_t* sums = sums_.data();
  std::uint16_t* blend = blend_.data();
  for (std::int32_t y = 0; y < dst_height_; ++y) {
    // Down the columns: weighted sum of the source lines for line y.
    const AxisFilter::Span& span = lines_.spans[static_cast<std::size_t>(y)];
    const std::uint32_t* w = &lines_.weights[span.weights];
    {
      const std::uint8_t* line = source.Line(span.first);
      const std::uint32_t w0 = w[0];
      for (std::size_t x = 0; x < n; ++x) sums[x] = w0 * line[x];
    }
    for (std::int32_t k = 1; k < span.count; ++k) {
      const std::uint8_t* line = source.Line(span.first + k);
      const std::uint32_t wk = w[k];
      for (std::size_t x = 0; x < n; ++x) sums[x] += wk * line[x];
    }
    // Keep eight fractional bits for the second pass: at most 255 * 256.
    constexpr int kDrop = kScaleWeightBits - 8;
    for (std::size_t x = 0; x < n; ++x) {
      blend[x] = static_cast<std::uint16_t>((sums[x] + (1u << (kDrop - 1))) >> kDrop);
    }

    // Along the line.
    std::uint8_t* out = top + static_cast<std::ptrdiff_t>(y) * stride;
    constexpr int kShift = kScaleWeightBits + 8;
    constexpr std::uint32_t kHalf = 1u << (kShift - 1);
    for (std::int32_t x = 0; x < dst_width_; ++x, out += 3) {
      const AxisFilter::Span& c = columns_.spans[static_cast<std::size_t>(x)];
      const std::uint32_t* cw = &columns_.weights[c.weights];
      const std::uint16_t* px = blend + 3 * static_cast<std::size_t>(c.first);
      std::uint32_t b = kHalf, g = kHalf, r = kHalf;
      for (std::int32_t k = 0; k < c.count; ++k, px += 3) {
        b += cw[k] * px[0];
        g += cw[k] * px[1];
        r += cw[k] * px[2];
      }
      out[0] = static_cast<std::uint8_t>(b >> kShift);
      out[1] = static_cast<std::uint8_t>(g >> kShift);
      out[2] = static_cast<std::uint8_t>(r >> kShift);
    }
  }
}

}  // namespace track
