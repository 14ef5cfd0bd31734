#include "pixelops/mosaic/kimmel_line_variances.h"

#include <algorithm>

#include "kernels/mosaic/site_lanes.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined: no vector crosses a call.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec4d;

// Line variance of second differences of v(-r .. r) (r = 3 or 7) centred at
// offset 0: even centres give value - mean of its neighbours, odd centres the
// negative; 5 terms (r = 3) or 13 terms (r = 7).
template <class V, typename F>
[[gnu::always_inline]] inline V LineVariance(F&& v, int32_t r) {
  V sum = simd::Splat<V>(0.0), squares = simd::Splat<V>(0.0);
  for (int32_t c = -r + 1; c <= r - 1; ++c) {
    const V e = (v(c) - (v(c - 1) + v(c + 1)) / 2.0) * ((c & 1) ? -1.0 : 1.0);
    sum += e;
    squares += e * e;
  }
  const double n = 2 * r - 1;
  return squares / n - (sum / n) * (sum / n);
}

// Along the row L(0) and L(+-2), L(+-3) from C, L(+-1) from green; the same
// along the column.
template <class V>
[[gnu::always_inline]] inline void Variances(const TKimmelLines& l, size_t i, V count, V& vh, V& vv) {
  const ptrdiff_t W = l.W;
  auto row = [&](int32_t d) __attribute__((always_inline)) { return simd::Every2Widened<V>(((d == 1 || d == -1) ? l.G : l.C) + i + d); };
  auto col = [&](int32_t d) __attribute__((always_inline)) {
    return simd::Every2Widened<V>(((d == 1 || d == -1) ? l.G : l.C) + ptrdiff_t(i) + d * W);
  };
  vh = LineVariance<V>(row, 3);
  vv = LineVariance<V>(col, 3);
  const auto widen = simd::AbsLanes(vh - vv) / count < l.Limit;
  if constexpr (simd::LaneCount<V> == 1) {
    if (widen) {
      vh = LineVariance<V>(row, 7);
      vv = LineVariance<V>(col, 7);
    }
  } else {
    bool any = false;
    for (int k = 0; k < simd::LaneCount<V>; ++k) any |= widen[k] != 0;
    if (any) {
      const V wh = LineVariance<V>(row, 7), wv = LineVariance<V>(col, 7);
      vh = widen ? wh : vh;
      vv = widen ? wv : vv;
    }
  }
}

template <class V>
[[gnu::always_inline]] inline int32_t Sites(const TKimmelLines& l, int32_t y, int32_t x, int32_t last,
                                            const uint8_t* counts, int32_t pass, double* vh, double* vv) {
  constexpr int32_t L = simd::LaneCount<V>;
  const size_t row = size_t(y) * size_t(l.W);
  for (; x + 2 * (L - 1) <= last; x += 2 * L) {
    V count;
    bool any = false;
    for (int32_t k = 0; k < L; ++k) {
      const int32_t n = counts[x + 2 * k];
      any |= n > 3 && n >= pass;
      if constexpr (L == 1)
        count = n;
      else
        count[k] = n;
    }
    if (!any) continue;
    V h, v;
    Variances<V>(l, row + size_t(x), count, h, v);
    for (int32_t k = 0; k < L; ++k) {
      const int32_t n = counts[x + 2 * k];
      if (n <= 3 || n < pass) continue;
      if constexpr (L == 1) {
        vh[x] = h;
        vv[x] = v;
      } else {
        vh[x + 2 * k] = h[k];
        vv[x + 2 * k] = v[k];
      }
    }
  }
  return x;
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t SitesAvx2(const TKimmelLines& l, int32_t y, int32_t x, int32_t last, const uint8_t* counts,
                                int32_t pass, double* vh, double* vv) {
  return Sites<TVec4d>(l, y, x, last, counts, pass, vh, vv);
}
#endif

}  // namespace

std::array<double, 2> KimmelLineVariances(const TKimmelLines& lines, size_t i, int32_t count) {
  double vh = 0, vv = 0;
  Variances<double>(lines, i, double(count), vh, vv);
  return {vh, vv};
}

void KimmelLineVarianceRow(const TKimmelLines& lines, int32_t y, int32_t x, int32_t last, const uint8_t* counts,
                           int32_t pass, double* vh, double* vv, bool vector) {
  // The vector loads read one value past their last lane.
  if (vector) {
#if ASTRELON_HAVE_AVX2
    if (UseAvx2(true)) x = SitesAvx2(lines, y, x, std::min(last, lines.W - 9), counts, pass, vh, vv);
#endif
  }
  Sites<double>(lines, y, x, last, counts, pass, vh, vv);
}

}  // namespace astrelon
