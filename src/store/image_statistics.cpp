#include "store/image_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "store/image_store.h"
#include "store/pair_differences.h"
#include "store/plane_routines.h"
#include "store/processor_features.h"
#include "store/simd_support.h"
#include "store/value_statistics.h"

namespace astrelon {

namespace {

constexpr int32_t HistogramBins = 65536;
constexpr int32_t SearchedBins = 65000;  // bins 0..65000 hold valid pixels
constexpr int32_t BlankBin = HistogramBins - 1;

// The plane's values, cut to the image size; empty for an unused slot or plane.
std::span<float> PlaneValues(int slot, int plane) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return {};
  TImageSlot& im = Store.Image[slot];
  std::span<float> p = im.Plane(plane);
  return p.first(std::min(p.size(), im.PixelCount()));
}

// Histogram of a rectangle: valid pixels to bin Round((v - mn) * scale), blanks to
// BlankBin (which is never searched).
template <typename Count>
void FillHistogramScalar(const float* base, int32_t w, int32_t h, int64_t stride, float mn, double scale,
                         Count* hist) {
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    for (int32_t x = 0; x < w; ++x) {
      const float v = row[x];
      int32_t bin = BlankBin;
      if (IsValidPixel(v)) {
        const double t = std::clamp((double(v) - double(mn)) * scale, 0.0, double(BlankBin));
        bin = int32_t(std::nearbyint(t));
      }
      ++hist[bin];
    }
  }
}

#if ASTRELON_HAVE_SSE2
// cvtpd2dq rounds to nearest with halves to even, as nearbyint does.
template <typename Count>
void FillHistogramSse2(const float* base, int32_t w, int32_t h, int64_t stride, float mn, double scale,
                       Count* hist) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128d offset = _mm_set1_pd(double(mn)), factor = _mm_set1_pd(scale);
  const __m128d zero = _mm_setzero_pd(), top = _mm_set1_pd(double(BlankBin));
  const __m128i blankBin = _mm_set1_epi32(BlankBin);
  alignas(16) int32_t bins[8];
  auto binsOf = [&](__m128 v) {
    const __m128i ok = _mm_castps_si128(_mm_cmpgt_ps(v, limit));
    const __m128d t0 = _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(v), offset), factor), zero), top);
    const __m128d t1 = _mm_min_pd(
        _mm_max_pd(_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), offset), factor), zero), top);
    const __m128i b = _mm_unpacklo_epi64(_mm_cvtpd_epi32(t0), _mm_cvtpd_epi32(t1));
    return _mm_or_si128(_mm_and_si128(ok, b), _mm_andnot_si128(ok, blankBin));
  };
  for (int32_t y = 0; y < h; ++y) {
    const float* row = base + y * stride;
    int32_t x = 0;
    for (; x + 8 <= w; x += 8) {
      _mm_store_si128(reinterpret_cast<__m128i*>(bins), binsOf(_mm_loadu_ps(row + x)));
      _mm_store_si128(reinterpret_cast<__m128i*>(bins + 4), binsOf(_mm_loadu_ps(row + x + 4)));
      for (int j = 0; j < 8; ++j) ++hist[bins[j]];
    }
    if (x < w) FillHistogramScalar(row + x, w - x, 1, stride, mn, scale, hist);
  }
}
#endif

template <typename Count>
void LevelsFromHistogram(const float* base, int32_t w, int32_t h, int64_t stride, float mn, float mx, double pctA,
                         double pctB, TPercentileLevels& levels) {
  const double range = std::max(double(mx) - double(mn), 0.001);
  const double scale = double(SearchedBins) / range;
  std::vector<Count> hist(HistogramBins, 0);
#if ASTRELON_HAVE_SSE2
  if (Sse2Enabled)
    FillHistogramSse2(base, w, h, stride, mn, scale, hist.data());
  else
#endif
    FillHistogramScalar(base, w, h, stride, mn, scale, hist.data());
  const int64_t count = int64_t(w) * int64_t(h) - int64_t(hist[BlankBin]);
  if (count <= 0) return;
  levels.RectMin = mn;
  levels.RectMax = mx;
  auto level = [&](double pct) {
    const int64_t target = int64_t(std::nearbyint(std::clamp(double(count) * pct, -9e18, 9e18))) / 100;
    int32_t bin;
    if (pct < 50) {
      int64_t sum = 0;
      for (bin = 0; bin < SearchedBins; ++bin) {
        sum += int64_t(hist[size_t(bin)]);
        if (sum >= target) break;
      }
    } else {
      int64_t rest = count;
      for (bin = SearchedBins; bin > 0; --bin) {
        rest -= int64_t(hist[size_t(bin)]);
        if (rest <= target) break;
      }
    }
    return double(bin) / scale + double(mn);
  };
  levels.LevelA = level(pctA);
  levels.LevelB = std::fabs(pctB - pctA) <= 1e-9 ? levels.LevelA : level(pctB);
}

}  // namespace

void GetPercentileLevels(int slot, int plane, int x1, int x2, int y1, int y2, double pctA, double pctB,
                         TPercentileLevels& levels) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[slot];
  if (plane < 1 || plane > 3 || plane > im.PlaneCount) plane = 1;
  std::span<float> values = PlaneValues(slot, plane);
  if (values.empty() || values.size() < im.PixelCount()) return;
  levels.LevelA = im.PlaneMin[size_t(plane)];
  levels.LevelB = levels.LevelA;
  levels.RectMin = im.PlaneMin[size_t(plane)];
  levels.RectMax = im.PlaneMax[size_t(plane)];
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  x2 = std::min(x2, im.Width - 1);
  y2 = std::min(y2, im.Height - 1);
  if (x2 < x1 || y2 < y1) return;
  const int32_t w = x2 - x1 + 1, h = y2 - y1 + 1;
  std::span<float> rect = values.subspan(size_t(y1) * size_t(im.Width) + size_t(x1));
  float mn, mx;
  RectMinMax(rect, w, h, im.Width, mn, mx, Sse2Enabled);
  if (uint64_t(w) * uint64_t(h) < std::numeric_limits<uint32_t>::max())
    LevelsFromHistogram<uint32_t>(rect.data(), w, h, im.Width, mn, mx, pctA, pctB, levels);
  else
    LevelsFromHistogram<uint64_t>(rect.data(), w, h, im.Width, mn, mx, pctA, pctB, levels);
}

float GetBackgroundLevel(int slot, int plane) {
  TPercentileLevels levels;
  if (SlotInUse(slot)) {
    const TImageSlot& im = Store.Image[slot];
    GetPercentileLevels(slot, plane, 0, im.Width - 1, 0, im.Height - 1, 5.0, 5.0, levels);
  }
  return float(levels.LevelA);
}

double GetBorderPercentile(int slot, int plane, double fraction) {
  const std::span<const float> values = PlaneValues(slot, plane);
  if (values.empty()) return 0.0;
  const TImageSlot& im = Store.Image[slot];
  const int32_t w = im.Width, h = im.Height;
  std::vector<float> border;
  border.reserve(2 * size_t(w) + 2 * size_t(h));
  auto take = [&](int32_t x, int32_t y) {
    const float v = values[size_t(y) * size_t(w) + size_t(x)];
    if (IsValidPixel(v)) border.push_back(v);
  };
  for (int32_t x = 0; x < w; ++x) {
    take(x, 0);
    if (h > 1) take(x, h - 1);
  }
  for (int32_t y = 1; y < h - 1; ++y) {
    take(0, y);
    if (w > 1) take(w - 1, y);
  }
  return PercentileSelect(border, fraction);
}

float GetCutoutBorderPercentile(std::span<const float> window32, float storedLevel, double fraction) {
  constexpr int32_t side = 32;
  if (window32.size() < size_t(side * side)) return storedLevel;
  std::array<float, 4 * side - 4> border{};
  size_t n = 0;
  auto take = [&](int32_t x, int32_t y) {
    const float v = window32[size_t(y * side + x)];
    if (IsValidPixel(v)) border[n++] = v;
  };
  for (int32_t x = 0; x < side; ++x) {
    take(x, 0);
    take(x, side - 1);
  }
  for (int32_t y = 1; y < side - 1; ++y) {
    take(0, y);
    take(side - 1, y);
  }
  if (n == 0) return storedLevel;
  return PercentileSelect(std::span<float>(border.data(), n), fraction);
}

float EstimatePlaneNoise(int slot, int plane) {
  std::span<const float> values = PlaneValues(slot, plane);
  if (plane > 1 && values.size() < 2) values = PlaneValues(slot, 1);
  return EstimateNoiseClipped(values, Sse2Enabled);
}

float EstimateNoise(int slot, int plane) {
  const std::span<const float> values = PlaneValues(slot, plane);
  const int64_t m = int64_t(values.size() / 2) - 2;
  double previous = 1.0, current = 1.0;
  if (m >= 4) {
    // Pairs (v[2k], v[2k+2]) for k = 0..m.
    const int64_t pairs = m + 1;
    TPairSums s = SumSquaredDifferences(values, pairs, 2, false, 0.0f, Sse2Enabled);
    current = s.Count > 0 ? s.Sum / double(s.Count) : 0.0;
    for (int round = 0; round < 10; ++round) {
      previous = current;
      const float limit = float(std::min(4.5 * previous, 3.0e38));
      s = SumSquaredDifferences(values, pairs, 2, true, limit, Sse2Enabled);
      current = s.Count > 0 ? s.Sum / double(s.Count) : 0.0;
      if (previous / std::max(current, 0.0001) < 1.1) break;
    }
  }
  return float(std::sqrt(std::max(current * current / (previous + 0.0001), 0.0001)) / 1.1);
}

int64_t CountValidPixels(int slot, int plane) {
  const std::span<const float> values = PlaneValues(slot, plane);
  int64_t n = 0;
  size_t i = 0;
#if ASTRELON_HAVE_SSE2
  // An exact count in any order: no switch needed.
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const size_t blockEnd = values.size() & ~size_t(3);
  while (i < blockEnd) {
    const size_t chunkEnd = std::min(blockEnd, i + (size_t(1) << 28));
    __m128i cnt = _mm_setzero_si128();
    for (; i < chunkEnd; i += 4)
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(_mm_cmpgt_ps(_mm_loadu_ps(values.data() + i), limit)));
    alignas(16) int32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
    n += int64_t(c[0]) + c[1] + c[2] + c[3];
  }
#endif
  for (; i < values.size(); ++i) n += IsValidPixel(values[i]);
  return n;
}

bool HasBlankPixels(int slot) {
  if (!SlotInUse(slot)) return false;
  const int planes = std::clamp(Store.Image[slot].PlaneCount, 0, 3);
  for (int p = 1; p <= planes; ++p) {
    const std::span<const float> values = PlaneValues(slot, p);
    size_t i = 0;
#if ASTRELON_HAVE_SSE2
    if (Sse2Enabled) {
      const __m128 limit = _mm_set1_ps(BlankLimit);
      for (; i + 16 <= values.size(); i += 16) {
        const float* v = values.data() + i;
        const __m128 ok = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(_mm_loadu_ps(v), limit),
                                                _mm_cmpgt_ps(_mm_loadu_ps(v + 4), limit)),
                                     _mm_and_ps(_mm_cmpgt_ps(_mm_loadu_ps(v + 8), limit),
                                                _mm_cmpgt_ps(_mm_loadu_ps(v + 12), limit)));
        if (_mm_movemask_ps(ok) != 15) return true;
      }
    }
#endif
    for (; i < values.size(); ++i)
      if (!IsValidPixel(values[i])) return true;
  }
  return false;
}

}  // namespace astrelon
