#include "filters/sharpening/balance/balance_region_blur.h"

#include <algorithm>
#include <array>

#include "kernels/gauss/gauss_filters.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

// The vector helpers are always inlined, so the calling convention of 32-byte
// vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

TBlurTaps BlurTaps(float radius) {
  TBlurTaps t;
  t.W = GaussWeightTable(radius);
  t.N = GaussHalfWindow(t.W);
  float ws = t.W[0] * 1.0f;
  for (int32_t k = 1; k <= t.N; ++k) ws += t.W[size_t(k)] * (1.0f + 1.0f);
  t.Full = ws;
  return t;
}

namespace {

using namespace simd;

// One value (V lanes): tap(k) loads the values k taps from the centre, for k
// from -before to after. A missing tap adds 0 with weight 0, so a whole window
// sums as the shortcut does.
template <class V, class Tap>
[[gnu::always_inline]] inline V Blur(Tap&& tap, int32_t before, int32_t after, const TBlurTaps& t) {
  V s = Splat<V>(t.W[0]) * tap(0);
  if (before == t.N && after == t.N) {
    for (int32_t k = 1; k <= t.N; ++k) s += Splat<V>(t.W[size_t(k)]) * (tap(-k) + tap(k));
    return s / Splat<V>(t.Full);
  }
  const V zero = Splat<V>(0.0f);
  float ws = t.W[0] * 1.0f;
  for (int32_t k = 1; k <= t.N; ++k) {
    const V lo = k <= before ? tap(-k) : zero;
    const V hi = k <= after ? tap(k) : zero;
    s += Splat<V>(t.W[size_t(k)]) * (lo + hi);
    ws += t.W[size_t(k)] * (float(k <= before) + float(k <= after));
  }
  return s / Splat<V>(ws);
}

struct TPassArgs {
  const TRegion& In;
  const TRegion& Out;
  int32_t Ya, Yb, Xa, Xb, Extent;  // Extent: the rectangle's rows (columns pass) or columns (rows pass)
  const TBlurTaps& T;
};

template <class V>
[[gnu::always_inline]] inline void ColumnsT(const TPassArgs& a) {
  constexpr int L = LaneCount<V>;
  const int32_t n = a.T.N;
  std::array<const float*, 2 * 256 + 1> rows{};
  for (int32_t y = a.Ya; y <= a.Yb; ++y) {
    const int32_t before = std::min(n, y), after = std::min(n, a.Extent - 1 - y);
    for (int32_t k = -before; k <= after; ++k) rows[size_t(n + k)] = a.In.Row(y + k);
    float* o = a.Out.Row(y);
    auto lanes = [&](int32_t x) __attribute__((always_inline)) {
      const auto at = [&](int32_t k) __attribute__((always_inline)) { return LoadLanes<V>(rows[size_t(n + k)] + x); };
      StoreLanes(o + x, Blur<V>(at, before, after, a.T));
    };
    int32_t x = a.Xa;
    for (; x + L - 1 <= a.Xb; x += L) lanes(x);
    // The last values with lanes ending at Xb (again for the ones done: the same bits).
    if (x <= a.Xb && a.Xb - a.Xa + 1 >= L) {
      lanes(a.Xb - L + 1);
      continue;
    }
    for (; x <= a.Xb; ++x) {
      const auto at = [&](int32_t k) __attribute__((always_inline)) { return rows[size_t(n + k)][x]; };
      o[x] = Blur<float>(at, before, after, a.T);
    }
  }
}

template <class V>
[[gnu::always_inline]] inline void RowsT(const TPassArgs& a) {
  constexpr int L = LaneCount<V>;
  const int32_t n = a.T.N;
  // The columns whose whole window lies inside the rectangle go V at a time.
  const int32_t first = std::max(a.Xa, n), last = std::min(a.Xb, a.Extent - 1 - n);
  for (int32_t y = a.Ya; y <= a.Yb; ++y) {
    const float* r = a.In.Row(y);
    float* o = a.Out.Row(y);
    auto one = [&](int32_t x) __attribute__((always_inline)) {
      const auto at = [&](int32_t k) __attribute__((always_inline)) { return r[x + k]; };
      o[x] = Blur<float>(at, std::min(n, x), std::min(n, a.Extent - 1 - x), a.T);
    };
    auto lanes = [&](int32_t x) __attribute__((always_inline)) {
      const auto at = [&](int32_t k) __attribute__((always_inline)) { return LoadLanes<V>(r + x + k); };
      StoreLanes(o + x, Blur<V>(at, n, n, a.T));
    };
    int32_t x = a.Xa;
    for (; x <= a.Xb && x < first; ++x) one(x);
    for (; x + L - 1 <= last; x += L) lanes(x);
    // The last whole windows with lanes ending at `last` (again for the ones
    // done: the same bits).
    if (x <= last && last - first + 1 >= L) {
      lanes(last - L + 1);
      x = last + 1;
    }
    for (; x <= a.Xb; ++x) one(x);
  }
}

struct TColumns {
  template <class V>
  [[gnu::always_inline]] static void Run(const TPassArgs& a) {
    ColumnsT<V>(a);
  }
};
struct TRows {
  template <class V>
  [[gnu::always_inline]] static void Run(const TPassArgs& a) {
    RowsT<V>(a);
  }
};

#if ASTRELON_HAVE_AVX2
template <class Pass>
ASTRELON_AVX2 void RunAvx2(const TPassArgs& a) {
  Pass::template Run<TVec8f>(a);
}
#endif

// The widest path the switch allows.
template <class Pass>
void Run(bool vector, const TPassArgs& a) {
  if (a.Ya > a.Yb || a.Xa > a.Xb) return;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) return RunAvx2<Pass>(a);
#endif
  if (vector) return Pass::template Run<TVec4f>(a);
  Pass::template Run<float>(a);
}

}  // namespace

void BlurColumns(const TRegion& in, const TRegion& out, int32_t ya, int32_t yb, int32_t xa, int32_t xb, int32_t rows,
                 const TBlurTaps& t, bool vector) {
  Run<TColumns>(vector, {in, out, ya, yb, xa, xb, rows, t});
}

void BlurRows(const TRegion& in, const TRegion& out, int32_t ya, int32_t yb, int32_t xa, int32_t xb, int32_t columns,
              const TBlurTaps& t, bool vector) {
  Run<TRows>(vector, {in, out, ya, yb, xa, xb, columns, t});
}

}  // namespace astrelon
