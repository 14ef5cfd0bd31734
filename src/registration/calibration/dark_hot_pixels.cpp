#include "registration/calibration/dark_hot_pixels.h"

#include <array>
#include <stdexcept>

#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// The eight same-colour cells around a pixel (the centre leaves the two minima
// unchanged, so it is not visited).
constexpr std::array<std::array<int32_t, 2>, 8> Ring{{{-2, -2}, {0, -2}, {2, -2}, {-2, 0}, {2, 0}, {-2, 2}, {0, 2}, {2, 2}}};

void FindInRowScalar(const float* dark, size_t width, int32_t y, int32_t x1, int32_t x2, float offset,
                     std::vector<THotDarkPixel>& out) {
  const float* row = dark + size_t(y) * width;
  for (int32_t x = x1; x <= x2; ++x) {
    const float d = row[x];
    if (!IsValidPixel(d)) continue;
    float m1 = d, m2 = d;  // the two smallest so far, m1 <= m2
    for (const auto& [dx, dy] : Ring) {
      const float v = row[ptrdiff_t(dy) * ptrdiff_t(width) + x + dx];
      if (!IsValidPixel(v)) continue;
      if (v < m1) {
        m2 = m1;
        m1 = v;
      } else if (v < m2) {
        m2 = v;
      }
    }
    const float t = (m1 + m2) * 0.5f + offset;
    if (d > t) out.push_back({x, y, t});
  }
}

#if ASTRELON_HAVE_AVX2
// Eight pixels at a time. Taking a valid v into the two smallest is
// m2 := min(m2, max(m1, v)), m1 := min(m1, v), which gives the scalar loop's values.
ASTRELON_AVX2 void FindInRowAvx2(const float* dark, size_t width, int32_t y, int32_t x1, int32_t x2, float offset,
                                 std::vector<THotDarkPixel>& out) {
  const float* row = dark + size_t(y) * width;
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 off = _mm256_set1_ps(offset);
  int32_t x = x1;
  for (; x + 8 <= x2 + 1; x += 8) {
    const __m256 d = _mm256_loadu_ps(row + x);
    __m256 m1 = d, m2 = d;
    for (const auto& [dx, dy] : Ring) {
      const __m256 v = _mm256_loadu_ps(row + ptrdiff_t(dy) * ptrdiff_t(width) + x + dx);
      const __m256 valid = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
      m2 = _mm256_blendv_ps(m2, _mm256_min_ps(m2, _mm256_max_ps(m1, v)), valid);
      m1 = _mm256_blendv_ps(m1, _mm256_min_ps(m1, v), valid);
    }
    const __m256 t = _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(m1, m2), half), off);
    const __m256 hot = _mm256_and_ps(_mm256_cmp_ps(d, limit, _CMP_GT_OQ), _mm256_cmp_ps(d, t, _CMP_GT_OQ));
    int mask = _mm256_movemask_ps(hot);
    if (mask == 0) continue;
    alignas(32) float ts[8];
    _mm256_store_ps(ts, t);
    for (; mask != 0; mask &= mask - 1) {
      const int i = __builtin_ctz(unsigned(mask));
      out.push_back({x + i, y, ts[i]});
    }
  }
  if (x <= x2) FindInRowScalar(dark, width, y, x, x2, offset, out);
}
#endif

}  // namespace

void FindHotDarkPixelsInRow(std::span<const float> dark, int32_t width, int32_t y, int32_t x1, int32_t x2,
                            float offset, std::vector<THotDarkPixel>& out, bool vector) {
  if (x2 < x1) return;
  if (width <= 0 || y < 2 || x1 < 2 || int64_t(x2) + 2 >= width ||
      (int64_t(y) + 3) * int64_t(width) > int64_t(dark.size()))
    throw std::invalid_argument("hot-pixel rows reach beyond the dark plane");
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    FindInRowAvx2(dark.data(), size_t(width), y, x1, x2, offset, out);
    return;
  }
#endif
  FindInRowScalar(dark.data(), size_t(width), y, x1, x2, offset, out);
}

std::vector<THotDarkPixel> FindHotDarkPixels(std::span<const float> dark, int32_t width, int32_t y1, int32_t y2,
                                             int32_t x1, int32_t x2, float offset, bool vector, int threads) {
  std::vector<THotDarkPixel> all;
  if (y2 < y1 || x2 < x1) return all;
  const int64_t rows = int64_t(y2) - y1 + 1;
  // One list per row, joined in row order afterwards.
  std::vector<std::vector<THotDarkPixel>> perRow(static_cast<size_t>(rows));
  ForEachBand(rows, threads, [&](int64_t first, int64_t last) {
    for (int64_t r = first; r < last; ++r)
      FindHotDarkPixelsInRow(dark, width, y1 + int32_t(r), x1, x2, offset, perRow[size_t(r)], vector);
  });
  for (const auto& row : perRow) all.insert(all.end(), row.begin(), row.end());
  return all;
}

void RepairHotPixels(std::span<float> image, int32_t width, std::span<const float> dark, int32_t darkWidth,
                     std::span<const THotDarkPixel> hot, int phase, bool blankHot) {
  if (width <= 0 || darkWidth <= 0) return;
  const int32_t height = int32_t(image.size() / size_t(width));
  const int32_t darkHeight = int32_t(dark.size() / size_t(darkWidth));
  const size_t W = size_t(width), DW = size_t(darkWidth);
  std::array<float, 8> values{};
  for (const THotDarkPixel& h : hot) {
    const int32_t x = h.X, y = h.Y;
    if (x < 2 || y < 2 || x > width - 3 || y > height - 3 || x > darkWidth - 3 || y > darkHeight - 3) continue;
    float& pixel = image[size_t(y) * W + size_t(x)];
    if (!IsValidPixel(pixel)) continue;
    if (blankHot) {
      pixel = BlankPixel;
      continue;
    }
    size_t n = 0;
    const auto take = [&](int32_t dx, int32_t dy) {
      const size_t nx = size_t(x + dx), ny = size_t(y + dy);
      const float d = dark[ny * DW + nx];
      const float v = image[ny * W + nx];
      if (IsValidPixel(d) && d < h.Threshold && IsValidPixel(v)) values[n++] = v;
    };
    if (phase < 0) {
      take(0, -1);
      take(-1, 0);
      take(1, 0);
      take(0, 1);
    }
    if (n < 3 && (phase < 0 || (x + y) % 2 == phase)) {
      take(-1, -1);
      take(1, -1);
      take(-1, 1);
      take(1, 1);
    }
    if (n == 0)
      for (const auto& [dx, dy] : Ring) take(dx, dy);
    if (n > 0) pixel = Percentile(std::span<float>(values.data(), n), 0.5);
  }
}

}  // namespace astrelon
