#include "store/planes/image_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "store/image_store.h"
#include "store/planes/pair_differences.h"
#include "store/planes/percentile_levels.h"
#include "store/planes/plane_routines.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// The plane's values, cut to the image size; empty for an unused slot or plane.
std::span<float> PlaneValues(int slot, int plane) {
  if (!SlotInUse(slot) || plane < 1 || plane > 3) return {};
  TImageSlot& im = Store.Image[slot];
  std::span<float> p = im.Plane(plane);
  return p.first(std::min(p.size(), im.PixelCount()));
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
  RectPercentileLevels(rect, w, h, im.Width, pctA, pctB, levels, Sse2Enabled);
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

float EstimatePlaneNoise(int slot, int plane, double unit) {
  std::span<const float> values = PlaneValues(slot, plane);
  if (plane > 1 && values.size() < 2) values = PlaneValues(slot, 1);
  return EstimateNoiseClipped(values, Sse2Enabled, unit);
}

float EstimateNoise(int slot, int plane) { return EstimateNoise(PlaneValues(slot, plane)); }

float EstimateNoise(std::span<const float> values) {
  const int64_t m = int64_t(values.size() / 2) - 2;
  TClipResult r;  // 1.0 and 1.0 for planes of fewer than 12 values
  // Pairs (v[2k], v[2k+2]) for k = 0..m; a round without pairs has mean 0.
  if (m >= 4) r = ClippedMeanSquare(values, m + 1, 2, TClipRule{false, false}, Sse2Enabled);
  return float(std::sqrt(std::max(r.Current * r.Current / (r.Previous + 0.0001), 0.0001)) / 1.1);
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
