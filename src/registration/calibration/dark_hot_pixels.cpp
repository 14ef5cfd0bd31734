#include "registration/calibration/dark_hot_pixels.h"

#include <algorithm>
#include <array>
#include <limits>
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
// Eight pixels at x. Taking a valid v into the two smallest is
// m2 := min(m2, max(m1, v)), m1 := min(m1, v), which gives the scalar loop's values.
ASTRELON_AVX2 inline void FindEightAvx2(const float* row, size_t width, int32_t y, int32_t x, float offset,
                                        std::vector<THotDarkPixel>& out) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 d = _mm256_loadu_ps(row + x);
  __m256 m1 = d, m2 = d;
  for (const auto& [dx, dy] : Ring) {
    const __m256 v = _mm256_loadu_ps(row + ptrdiff_t(dy) * ptrdiff_t(width) + x + dx);
    const __m256 valid = _mm256_cmp_ps(v, limit, _CMP_GT_OQ);
    m2 = _mm256_blendv_ps(m2, _mm256_min_ps(m2, _mm256_max_ps(m1, v)), valid);
    m1 = _mm256_blendv_ps(m1, _mm256_min_ps(m1, v), valid);
  }
  const __m256 t = _mm256_add_ps(_mm256_mul_ps(_mm256_add_ps(m1, m2), _mm256_set1_ps(0.5f)), _mm256_set1_ps(offset));
  const __m256 hot = _mm256_and_ps(_mm256_cmp_ps(d, limit, _CMP_GT_OQ), _mm256_cmp_ps(d, t, _CMP_GT_OQ));
  int mask = _mm256_movemask_ps(hot);
  if (mask == 0) return;
  alignas(32) float ts[8];
  _mm256_store_ps(ts, t);
  for (; mask != 0; mask &= mask - 1) {
    const int i = __builtin_ctz(unsigned(mask));
    out.push_back({x + i, y, ts[i]});
  }
}

ASTRELON_AVX2 void FindInRowAvx2(const float* dark, size_t width, int32_t y, int32_t x1, int32_t x2, float offset,
                                 std::vector<THotDarkPixel>& out) {
  const float* row = dark + size_t(y) * width;
  int32_t x = x1;
  for (; x + 8 <= x2 + 1; x += 8) FindEightAvx2(row, width, y, x, offset, out);
  if (x <= x2) FindInRowScalar(dark, width, y, x, x2, offset, out);
}

// The least of the cells x - 2, x, x + 2 of a row for x = x1 .. x1 + n - 1. The
// running least is the second operand of each minimum, so a NaN cell never
// takes its place; blank cells count (they only lower the bound).
ASTRELON_AVX2 void TripleMinimaAvx2(const float* row, int32_t x1, int32_t n, float* out) {
  const __m256 inf = _mm256_set1_ps(std::numeric_limits<float>::infinity());
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const float* p = row + x1 + i;
    __m256 m = _mm256_min_ps(_mm256_loadu_ps(p - 2), inf);
    m = _mm256_min_ps(_mm256_loadu_ps(p), m);
    _mm256_storeu_ps(out + i, _mm256_min_ps(_mm256_loadu_ps(p + 2), m));
  }
  for (; i < n; ++i) {
    float m = std::numeric_limits<float>::infinity();
    for (const int32_t dx : {-2, 0, 2}) {
      const float v = row[x1 + i + dx];
      m = v < m ? v : m;
    }
    out[i] = m;
  }
}

// FindInRowAvx2 with the bound: lo, the least of the nine cells, is at most m1
// <= (m1 + m2) / 2, and rounding keeps that order, so d <= lo + offset rules
// the pixel out (a NaN bound rules nothing out).
ASTRELON_AVX2 void FindInRowBoundedAvx2(const float* dark, size_t width, int32_t y, int32_t x1, int32_t x2,
                                        float offset, const float* above, const float* at, const float* below,
                                        std::vector<THotDarkPixel>& out) {
  const float* row = dark + size_t(y) * width;
  const __m256 limit = _mm256_set1_ps(BlankLimit), off = _mm256_set1_ps(offset);
  int32_t x = x1;
  for (; x + 8 <= x2 + 1; x += 8) {
    const int32_t i = x - x1;
    const __m256 d = _mm256_loadu_ps(row + x);
    const __m256 lo =
        _mm256_min_ps(_mm256_min_ps(_mm256_loadu_ps(above + i), _mm256_loadu_ps(at + i)), _mm256_loadu_ps(below + i));
    const __m256 maybe = _mm256_and_ps(_mm256_cmp_ps(d, limit, _CMP_GT_OQ),
                                       _mm256_cmp_ps(d, _mm256_add_ps(lo, off), _CMP_NLE_UQ));
    if (_mm256_movemask_ps(maybe) != 0) FindEightAvx2(row, width, y, x, offset, out);
  }
  if (x <= x2) FindInRowScalar(dark, width, y, x, x2, offset, out);
}
#endif

void CheckHotRows(std::span<const float> dark, int32_t width, int32_t y, int32_t x1, int32_t x2) {
  if (width <= 0 || y < 2 || x1 < 2 || int64_t(x2) + 2 >= width ||
      (int64_t(y) + 3) * int64_t(width) > int64_t(dark.size()))
    throw std::invalid_argument("hot-pixel rows reach beyond the dark plane");
}

}  // namespace

void FindHotDarkPixelsInRow(std::span<const float> dark, int32_t width, int32_t y, int32_t x1, int32_t x2,
                            float offset, std::vector<THotDarkPixel>& out, bool vector) {
  if (x2 < x1) return;
  CheckHotRows(dark, width, y, x1, x2);
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    FindInRowAvx2(dark.data(), size_t(width), y, x1, x2, offset, out);
    return;
  }
#endif
  FindInRowScalar(dark.data(), size_t(width), y, x1, x2, offset, out);
}

THotPixelFinder::THotPixelFinder(std::span<const float> dark, int32_t width, int32_t x1, int32_t x2, float offset,
                                 bool vector)
    : dark_(dark), width_(width), x1_(x1), x2_(x2), offset_(offset), vector_(vector) {}

const float* THotPixelFinder::TripleMinima(int32_t y) {
  std::vector<float>& m = minima_[size_t(y % 5)];
  if (minimaRow_[size_t(y % 5)] != y) {
    m.resize(size_t(x2_ - x1_ + 1));
#if ASTRELON_HAVE_AVX2
    TripleMinimaAvx2(dark_.data() + size_t(y) * size_t(width_), x1_, x2_ - x1_ + 1, m.data());
#endif
    minimaRow_[size_t(y % 5)] = y;
  }
  return m.data();
}

void THotPixelFinder::FindInRow(int32_t y, std::vector<THotDarkPixel>& out) {
  if (x2_ < x1_) return;
  CheckHotRows(dark_, width_, y, x1_, x2_);
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector_)) {
    FindInRowBoundedAvx2(dark_.data(), size_t(width_), y, x1_, x2_, offset_, TripleMinima(y - 2), TripleMinima(y),
                         TripleMinima(y + 2), out);
    return;
  }
#endif
  FindInRowScalar(dark_.data(), size_t(width_), y, x1_, x2_, offset_, out);
}

THotPixelRows JoinHotPixelBands(std::span<const THotRowCollector> bands) {
  THotPixelRows r;
  if (bands.empty()) return r;
  r.First = bands.front().Rows().First;
  for (const THotRowCollector& band : bands) {
    const THotPixelRows& b = band.Rows();
    const size_t base = r.Pixels.size();
    r.Pixels.insert(r.Pixels.end(), b.Pixels.begin(), b.Pixels.end());
    for (size_t i = 1; i < b.RowStart.size(); ++i) r.RowStart.push_back(base + b.RowStart[i]);
  }
  return r;
}

void RepairHotPixel(const THotPixelPlane& plane, const THotDarkPixel& h, int phase, bool blankHot) {
  const int32_t width = plane.Width, darkWidth = plane.DarkWidth;
  if (width <= 0 || darkWidth <= 0) return;
  const int32_t height = int32_t(plane.Image.size() / size_t(width));
  const int32_t darkHeight = int32_t(plane.Dark.size() / size_t(darkWidth));
  const int32_t x = h.X, y = h.Y;
  if (x < 2 || y < 2 || x > width - 3 || y > height - 3 || x > darkWidth - 3 || y > darkHeight - 3) return;
  const size_t W = size_t(width), DW = size_t(darkWidth);
  float& pixel = plane.Image[size_t(y) * W + size_t(x)];
  if (!IsValidPixel(pixel)) return;
  if (blankHot) {
    pixel = BlankPixel;
    return;
  }
  std::array<float, 8> values{};
  size_t n = 0;
  const auto take = [&](int32_t dx, int32_t dy) {
    const size_t nx = size_t(x + dx), ny = size_t(y + dy);
    const float d = plane.Dark[ny * DW + nx];
    const float v = plane.Image[ny * W + nx];
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

std::span<const THotDarkPixel> THotPixelRows::Row(int32_t y) const {
  const int64_t r = int64_t(y) - First;
  if (r < 0 || r >= RowCount()) return {};
  return std::span<const THotDarkPixel>(Pixels).subspan(RowStart[size_t(r)], RowStart[size_t(r) + 1] - RowStart[size_t(r)]);
}

void THotRowCollector::FindNextRow(THotPixelFinder& finder) {
  finder.FindInRow(rows_.First + int32_t(rows_.RowCount()), rows_.Pixels);
  rows_.RowStart.push_back(rows_.Pixels.size());
}

bool THotPixelRows::Crowded(const THotDarkPixel& h) const {
  const int64_t r = int64_t(h.Y) - First;
  for (int64_t q = std::max<int64_t>(r - 2, 0); q <= std::min<int64_t>(r + 2, RowCount() - 1); ++q) {
    const auto end = Pixels.begin() + ptrdiff_t(RowStart[size_t(q) + 1]);
    auto it = std::lower_bound(Pixels.begin() + ptrdiff_t(RowStart[size_t(q)]), end, h.X - 2,
                               [](const THotDarkPixel& a, int32_t x) { return a.X < x; });
    for (; it != end && it->X <= h.X + 2; ++it)
      if (q != r || it->X != h.X) return true;
  }
  return false;
}

void RepairHotPixels(std::span<float> image, int32_t width, std::span<const float> dark, int32_t darkWidth,
                     std::span<const THotDarkPixel> hot, int phase, bool blankHot) {
  const THotPixelPlane plane{image, width, dark, darkWidth, nullptr};
  for (const THotDarkPixel& h : hot) RepairHotPixel(plane, h, phase, blankHot);
}

void RepairHotPixelPlanes(std::span<const THotPixelPlane> planes, int phase, bool blankHot, int threads,
                          const std::function<bool(int32_t y)>& loneDone) {
  threads = std::max(threads, 1);
  const int64_t items = int64_t(planes.size()) * threads;  // bands of rows of every plane
  // Per item the crowded pixels in scan order, repaired after all items.
  std::vector<std::vector<size_t>> crowded(static_cast<size_t>(items));
  ForEachBand(items, int(std::min<int64_t>(items, threads)), [&](int64_t first, int64_t last) {
    for (int64_t item = first; item < last; ++item) {
      const THotPixelPlane& p = planes[size_t(item / threads)];
      if (p.Hot == nullptr) continue;
      const THotPixelRows& hot = *p.Hot;
      const int64_t rows = hot.RowCount(), band = item % threads;
      for (int64_t r = rows * band / threads; r < rows * (band + 1) / threads; ++r) {
        const bool done = loneDone && loneDone(hot.First + int32_t(r));
        for (size_t i = hot.RowStart[size_t(r)]; i < hot.RowStart[size_t(r) + 1]; ++i)
          if (hot.Crowded(hot.Pixels[i]))
            crowded[size_t(item)].push_back(i);
          else if (!done)
            RepairHotPixel(p, hot.Pixels[i], phase, blankHot);
      }
    }
  });
  for (int64_t item = 0; item < items; ++item) {
    const THotPixelPlane& p = planes[size_t(item / threads)];
    for (const size_t i : crowded[size_t(item)]) RepairHotPixel(p, p.Hot->Pixels[i], phase, blankHot);
  }
}

}  // namespace astrelon
