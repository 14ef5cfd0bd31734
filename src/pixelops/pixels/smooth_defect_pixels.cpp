#include "pixelops/pixels/smooth_defect_pixels.h"

#include <algorithm>
#include <cmath>

#include "core/settings.h"
#include "platform/parallel_bands.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// The pixel at x of `row` tested and, when it stands out, clamped in place;
// true when it changed.
inline bool SmoothPixel(const float* up, float* row, const float* down, int64_t x) {
  const float tl = up[x - 1], t = up[x], tr = up[x + 1];
  const float l = row[x - 1], r = row[x + 1];
  const float bl = down[x - 1], b = down[x], br = down[x + 1];
  const float c = row[x];
  const float m = ((((((tl + t) + tr) + l) + r) + bl) + b + br) * 0.125f;
  const auto sq = [](float v) { return v * v; };
  const float s2 =
      (((((((0.1f + sq(tl - t)) + sq(t - tr)) + sq(tr - r)) + sq(r - br)) + sq(br - b)) + sq(b - bl)) + sq(bl - l) +
       sq(l - tl)) *
      0.25f;
  const float d = c - m;
  if (!(d * d > s2)) return false;
  const float s = std::sqrt(s2);
  const float curve = (((l - (tl + bl) * 0.5f) + (r - (tr + br) * 0.5f)) + (t - (tl + tr) * 0.5f)) + (b - (bl + br) * 0.5f);
  if (c <= m) {
    const float low = (m - s) + (0.0f < curve ? 0.0f : curve);
    if (!(c < low)) return false;
    row[x] = low;
  } else {
    const float high = (m + s) + (0.0f > curve ? 0.0f : curve);
    if (!(c > high)) return false;
    row[x] = high;
  }
  return true;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256 Add(__m256 p, __m256 q) { return _mm256_add_ps(p, q); }
ASTRELON_AVX2 inline __m256 Sub(__m256 p, __m256 q) { return _mm256_sub_ps(p, q); }
ASTRELON_AVX2 inline __m256 Mul(__m256 p, __m256 q) { return _mm256_mul_ps(p, q); }
ASTRELON_AVX2 inline __m256 SquaredDifference(__m256 p, __m256 q) { return Mul(Sub(p, q), Sub(p, q)); }

// Pixels x .. x+7 computed side by side from the values as they stand. A
// result holds while the pixel's left neighbour has not changed: after each
// changed pixel its right neighbour is tested again alone; when that one
// changes too, the pixels after it are left for the next call. Returns how
// many pixels are done.
ASTRELON_AVX2 int SmoothEight(const float* up, float* row, const float* down, int64_t x) {
  const __m256 tl = _mm256_loadu_ps(up + x - 1), t = _mm256_loadu_ps(up + x), tr = _mm256_loadu_ps(up + x + 1);
  const __m256 l = _mm256_loadu_ps(row + x - 1), r = _mm256_loadu_ps(row + x + 1);
  const __m256 bl = _mm256_loadu_ps(down + x - 1), b = _mm256_loadu_ps(down + x), br = _mm256_loadu_ps(down + x + 1);
  const __m256 c = _mm256_loadu_ps(row + x);
  const __m256 half = _mm256_set1_ps(0.5f), zero = _mm256_setzero_ps();
  const __m256 m = Mul(Add(Add(Add(Add(Add(Add(Add(tl, t), tr), l), r), bl), b), br), _mm256_set1_ps(0.125f));
  __m256 s2 = Add(_mm256_set1_ps(0.1f), SquaredDifference(tl, t));
  s2 = Add(Add(Add(Add(Add(Add(Add(s2, SquaredDifference(t, tr)), SquaredDifference(tr, r)), SquaredDifference(r, br)), SquaredDifference(br, b)), SquaredDifference(b, bl)), SquaredDifference(bl, l)),
           SquaredDifference(l, tl));
  s2 = Mul(s2, _mm256_set1_ps(0.25f));
  const __m256 d = Sub(c, m);
  const __m256 candidate = _mm256_cmp_ps(Mul(d, d), s2, _CMP_GT_OQ);
  if (_mm256_movemask_ps(candidate) == 0) return 8;
  const __m256 s = _mm256_sqrt_ps(s2);
  const __m256 curve = Add(Add(Add(Sub(l, Mul(Add(tl, bl), half)), Sub(r, Mul(Add(tr, br), half))),
                               Sub(t, Mul(Add(tl, tr), half))),
                           Sub(b, Mul(Add(bl, br), half)));
  const __m256 low = Add(Sub(m, s), _mm256_min_ps(zero, curve));
  const __m256 high = Add(Add(m, s), _mm256_max_ps(zero, curve));
  const __m256 dark = _mm256_cmp_ps(c, m, _CMP_LE_OQ);
  const __m256 lowered = _mm256_and_ps(_mm256_andnot_ps(dark, candidate), _mm256_cmp_ps(c, high, _CMP_GT_OQ));
  const __m256 raised = _mm256_and_ps(_mm256_and_ps(dark, candidate), _mm256_cmp_ps(c, low, _CMP_LT_OQ));
  const int changed = _mm256_movemask_ps(_mm256_or_ps(lowered, raised));
  if (changed == 0) return 8;
  alignas(32) float lows[8], highs[8];
  _mm256_store_ps(lows, low);
  _mm256_store_ps(highs, high);
  const int raisedLanes = _mm256_movemask_ps(raised);
  unsigned pending = unsigned(changed);
  while (pending != 0) {
    const int f = __builtin_ctz(pending);
    row[x + f] = (raisedLanes >> f) & 1 ? lows[f] : highs[f];
    if (f == 7) return 8;
    if (SmoothPixel(up, row, down, x + f + 1)) return f + 2;
    // Lanes up to f + 1 are done; the later results still hold.
    pending &= ~0u << (f + 2);
  }
  return 8;
}
#endif

}  // namespace

void SmoothDefectPixelsPlane(std::span<float> plane, int32_t width, int32_t height, int32_t x1, int32_t y1,
                             int32_t x2, int32_t y2, bool vector) {
  if (width < 3 || height < 3 || plane.size() < size_t(width) * size_t(height)) return;
  const int64_t xa = std::max(x1, 1), xb = std::min(x2, width - 2);
  const int32_t ya = std::max(y1, 1), yb = std::min(y2, height - 2);
  const size_t w = size_t(width);
  [[maybe_unused]] const bool eight = UseAvx2(vector);
  for (int32_t y = ya; y <= yb; ++y) {
    float* up = plane.data() + (size_t(y) - 1) * w;
    float* row = up + w;
    float* down = row + w;
    int64_t x = xa;
#if ASTRELON_HAVE_AVX2
    if (eight)
      while (x + 8 <= xb + 1) x += SmoothEight(up, row, down, x);
#endif
    for (; x <= xb; ++x) (void)SmoothPixel(up, row, down, x);
  }
}

void SmoothDefectPixels(int slot, int32_t x1, int32_t y1, int32_t x2, int32_t y2, bool vector) {
  if (!SlotInUse(slot)) return;
  TImageSlot& im = Store.Image[size_t(slot)];
  const int planes = std::clamp(im.PlaneCount, 1, 3);
  // The planes do not meet: each runs on a thread of its own.
  ForEachBand(planes, Options.Multicore ? planes : 1, [&](int64_t first, int64_t last) {
    for (int64_t p = first + 1; p <= last; ++p)
      SmoothDefectPixelsPlane(im.Planes[size_t(p)], im.Width, im.Height, x1, y1, x2, y2, vector);
  });
}

}  // namespace astrelon
