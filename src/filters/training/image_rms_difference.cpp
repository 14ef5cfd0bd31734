// The sums run in four lanes (pixel x of a row goes to lane x mod 4 counted
// from the row's first pixel); each row's lanes are added pairwise and the row
// totals in order. The plain loop keeps the four lanes in an array, the vector
// loop in vectors of four doubles, so both add the same numbers in the same
// order. The differences are taken relative to the first one, which keeps the
// sums small and gives exactly 0 for a constant difference.
#include "filters/training/image_rms_difference.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_store.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

struct TSums {
  double D = 0, D2 = 0;
  int64_t Count = 0;
};

// One row's pixels [0, n): lane sums of d and d^2 for valid pairs.
void RowPlain(const float* a, const float* b, int32_t n, double shift, TSums& sums) {
  std::array<double, 4> d{}, d2{};
  for (int32_t i = 0; i < n; ++i) {
    if (!IsValidPixel(a[i]) || !IsValidPixel(b[i])) continue;
    const double v = double(a[i]) - double(b[i]) - shift;
    d[size_t(i & 3)] += v;
    d2[size_t(i & 3)] += v * v;
    ++sums.Count;
  }
  sums.D += (d[0] + d[1]) + (d[2] + d[3]);
  sums.D2 += (d2[0] + d2[1]) + (d2[2] + d2[3]);
}

[[gnu::always_inline]] inline void RowLanes(const float* a, const float* b, int32_t n, double shift, TSums& sums) {
  using namespace simd;
  TVec4d d = Splat<TVec4d>(0.0), d2 = d;
  const TVec4d limit = Splat<TVec4d>(double(BlankLimit)), s = Splat<TVec4d>(shift), zero = Splat<TVec4d>(0.0);
  auto add = [&](TVec4f fa, TVec4f fb) {
    const TVec4d va = __builtin_convertvector(fa, TVec4d), vb = __builtin_convertvector(fb, TVec4d);
    const auto valid = (va > limit) & (vb > limit);  // false for NaN
    const TVec4d v = valid ? va - vb - s : zero;
    d += v;
    d2 += v * v;
    for (int l = 0; l < 4; ++l) sums.Count += valid[l] != 0;
  };
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) add(LoadLanes<TVec4f>(a + i), LoadLanes<TVec4f>(b + i));
  if (i < n) {
    // The last pixels of the row in the first lanes, blanks in the others.
    TVec4f fa = Splat<TVec4f>(BlankPixel), fb = fa;
    for (int32_t l = 0; i + l < n; ++l) {
      fa[l] = a[i + l];
      fb[l] = b[i + l];
    }
    add(fa, fb);
  }
  sums.D += (d[0] + d[1]) + (d[2] + d[3]);
  sums.D2 += (d2[0] + d2[1]) + (d2[2] + d2[3]);
}

void RowSse(const float* a, const float* b, int32_t n, double shift, TSums& sums) { RowLanes(a, b, n, shift, sums); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RowAvx2(const float* a, const float* b, int32_t n, double shift, TSums& sums) {
  RowLanes(a, b, n, shift, sums);
}
#endif

}  // namespace

double ImageRmsDifference(int a, int b, int32_t border, int plane, bool vector) {
  if (!SlotInUse(a) || !SlotInUse(b)) return 0;
  const TImageSlot& ia = Store.Image[size_t(a)];
  const TImageSlot& ib = Store.Image[size_t(b)];
  const int32_t w = std::min(ia.Width, ib.Width), h = std::min(ia.Height, ib.Height);
  border = std::max(border, 0);
  const int32_t x1 = border, x2 = w - 1 - border, y1 = border, y2 = h - 1 - border;
  if (x2 < x1 || y2 < y1) return 0;
  const int planes = std::min(std::min(ia.PlaneCount, ib.PlaneCount), 3);
  const int first = plane > 0 ? plane : 1, last = plane > 0 ? std::min(plane, planes) : planes;
  // The first difference inside the frame is the shift.
  bool found = false;
  double shift = 0;
  for (int p = first; p <= last && !found; ++p)
    for (int32_t y = y1; y <= y2 && !found; ++y)
      for (int32_t x = x1; x <= x2 && !found; ++x) {
        const float va = ia.At(p, x, y), vb = ib.At(p, x, y);
        if (IsValidPixel(va) && IsValidPixel(vb)) {
          shift = double(va) - double(vb);
          found = true;
        }
      }
  if (!found) return 0;
  TSums sums;
  for (int p = first; p <= last; ++p)
    for (int32_t y = y1; y <= y2; ++y) {
      const float* ra = ia.Planes[size_t(p)].data() + size_t(y) * size_t(ia.Width) + size_t(x1);
      const float* rb = ib.Planes[size_t(p)].data() + size_t(y) * size_t(ib.Width) + size_t(x1);
      const int32_t n = x2 - x1 + 1;
#if ASTRELON_HAVE_AVX2
      if (vector && UseAvx2(true)) {
        RowAvx2(ra, rb, n, shift, sums);
        continue;
      }
#endif
      if (vector)
        RowSse(ra, rb, n, shift, sums);
      else
        RowPlain(ra, rb, n, shift, sums);
    }
  if (sums.Count == 0) return 0;
  const double mean = sums.D / double(sums.Count), mean2 = sums.D2 / double(sums.Count);
  return std::sqrt(std::abs(mean2 - mean * mean));
}

}  // namespace astrelon
