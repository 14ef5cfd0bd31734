#include "frequency/wavelet/wavelet_plain_mean.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_slot.h"

// The vector helpers are always inlined, so the calling convention of
// 32-byte vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::LaneCount;
using simd::LoadWidened;
using simd::Splat;
using simd::TVec4d;
using simd::TVec4f;
typedef int64_t TVec4l __attribute__((vector_size(32)));

constexpr double ADirect = 1.0, ADiagonal = 0.71, AFar = 0.4;

// |v| as fabs gives it: the sign bit cleared.
template <class V>
[[gnu::always_inline]] inline V Abs(V v) {
  if constexpr (LaneCount<V> == 1)
    return std::fabs(v);
  else
    return V(TVec4l(v) & (TVec4l{} + INT64_MAX));
}

// e[x] = at / (|p[x] - q[x]| + t) for x = x0 .. x1-1: the weight of the pair
// (p[x], q[x]) for a tap of a t = at.
template <class V>
[[gnu::always_inline]] inline void PairWeights(const float* p, const float* q, double at, double t, double* e,
                                               int32_t x0, int32_t x1) {
  constexpr int K = LaneCount<V>;
  int32_t x = x0;
  for (; x + K <= x1; x += K) {
    const V d = Abs(LoadWidened<V>(p + x) - LoadWidened<V>(q + x)) + Splat<V>(t);
    simd::StoreLanes(e + x, Splat<V>(at) / d);
  }
  for (; x < x1; ++x) e[x] = at / (std::fabs(double(p[x]) - double(q[x])) + t);
}

// The pair weights of one row y with the pixels right of it and below it.
struct TRowWeights {
  double* Right;      // (x, y) - (x+1, y)
  double* Right2;     // (x, y) - (x+2, y)
  double* Down;       // (x, y) - (x, y+1)
  double* DownRight;  // (x, y) - (x+1, y+1)
  double* DownLeft;   // (x, y) - (x-1, y+1)
  double* Down2;      // (x, y) - (x, y+2)
};

// One tap of a pixel x: its neighbour is n[x], its weight e[x + shift].
struct TTap {
  const float* N;
  const double* E;
  int32_t Shift;
};

template <class V>
struct TPlainRows {
  std::span<const float> Level;
  int32_t W;
  double T;

  [[gnu::always_inline]] const float* Row(int32_t y) const { return Level.data() + int64_t(y) * W; }

  // The weights of row y (with rows y+1 and y+2) that the pixels x = 2 .. w-3
  // use.
  [[gnu::always_inline]] void Horizontal(int32_t y, const TRowWeights& r) const {
    const float* p = Row(y);
    PairWeights<V>(p, p + 1, ADirect * T, T, r.Right, 1, W - 2);
    PairWeights<V>(p, p + 2, AFar * T, T, r.Right2, 0, W - 2);
  }
  [[gnu::always_inline]] void Vertical(int32_t y, const TRowWeights& r) const {
    const float *p = Row(y), *below = Row(y + 1);
    PairWeights<V>(p, below, ADirect * T, T, r.Down, 2, W - 2);
    PairWeights<V>(p, below + 1, ADiagonal * T, T, r.DownRight, 1, W - 2);
    PairWeights<V>(p, below - 1, ADiagonal * T, T, r.DownLeft, 2, W - 1);
  }
  [[gnu::always_inline]] void Far(int32_t y, const TRowWeights& r) const {
    const float* p = Row(y);
    PairWeights<V>(p, Row(y + 2), AFar * T, T, r.Down2, 2, W - 2);
  }

  // The means of row y's pixels x = 2 .. w-3 from the row's weights r0 and
  // those of the rows above (r1: y-1, r2: y-2).
  [[gnu::always_inline]] void Means(int32_t y, const TRowWeights& r0, const TRowWeights& r1, const TRowWeights& r2,
                                    float* out) const {
    const float* c = Row(y);
    const float *up = Row(y - 1), *down = Row(y + 1), *up2 = Row(y - 2), *down2 = Row(y + 2);
    const TTap taps[12] = {{c - 1, r0.Right, -1},      {c + 1, r0.Right, 0},        {up, r1.Down, 0},
                           {down, r0.Down, 0},         {up - 1, r1.DownRight, -1},  {up + 1, r1.DownLeft, 1},
                           {down - 1, r0.DownLeft, 0}, {down + 1, r0.DownRight, 0}, {c - 2, r0.Right2, -2},
                           {c + 2, r0.Right2, 0},      {up2, r2.Down2, 0},          {down2, r0.Down2, 0}};
    constexpr int K = LaneCount<V>;
    int32_t x = 2;
    for (; x + K <= W - 2; x += K) MeanLanes<V>(c, taps, x, out);
    for (; x < W - 2; ++x) MeanLanes<double>(c, taps, x, out);
  }

  template <class L>
  [[gnu::always_inline]] static void MeanLanes(const float* c, const TTap (&taps)[12], int32_t x, float* out) {
    const L c0 = LoadWidened<L>(c + x);
    const L blank = Splat<L>(double(BlankLimit));
    L sum = c0, weight = Splat<L>(1.0);
    for (const TTap& tap : taps) {
      const L n = LoadWidened<L>(tap.N + x);
      L wt;
      if constexpr (LaneCount<L> == 1)
        wt = tap.E[x + tap.Shift];
      else
        std::memcpy(&wt, tap.E + x + tap.Shift, sizeof wt);
      // Blank neighbours are left out.
      if constexpr (LaneCount<L> == 1) {
        if (n > blank) {
          sum += wt * n;
          weight += wt;
        }
      } else {
        const auto valid = n > blank;
        sum = valid ? sum + wt * n : sum;
        weight = valid ? weight + wt : weight;
      }
    }
    const L mean = sum / weight;
    if constexpr (LaneCount<L> == 1) {
      out[x] = c0 > blank ? float(mean) : c[x];
    } else {
      TVec4f centre, r = __builtin_convertvector(mean, TVec4f);
      std::memcpy(&centre, c + x, sizeof centre);
      r = centre > Splat<TVec4f>(BlankLimit) ? r : centre;
      std::memcpy(out + x, &r, sizeof r);
    }
  }
};

template <class V>
[[gnu::always_inline]] inline void Rows(std::span<const float> level, int32_t w, int32_t first, int32_t last, double t,
                                        float* out) {
  const TPlainRows<V> rows{level, w, t};
  // Six weight rows per ring slot: the vertical ones of rows y-2 .. y in turn,
  // the horizontal ones of row y alone.
  std::vector<double> space(size_t(3) * 6 * size_t(w));
  TRowWeights ring[3];
  for (int k = 0; k < 3; ++k) {
    double* b = space.data() + size_t(k) * 6 * size_t(w);
    const size_t n = size_t(w);
    ring[k] = {b, b + n, b + 2 * n, b + 3 * n, b + 4 * n, b + 5 * n};
  }
  auto slot = [&](int32_t y) -> TRowWeights& { return ring[y % 3]; };
  rows.Far(first - 2, slot(first - 2));
  rows.Far(first - 1, slot(first - 1));
  rows.Vertical(first - 1, slot(first - 1));
  for (int32_t y = first; y < last; ++y) {
    TRowWeights& r0 = slot(y);
    rows.Horizontal(y, r0);
    rows.Vertical(y, r0);
    rows.Far(y, r0);
    rows.Means(y, r0, slot(y - 1), slot(y - 2), out + int64_t(y) * w);
  }
}

void RowsScalar(std::span<const float> level, int32_t w, int32_t first, int32_t last, double t, float* out) {
  Rows<double>(level, w, first, last, t, out);
}
void RowsSse2(std::span<const float> level, int32_t w, int32_t first, int32_t last, double t, float* out) {
  Rows<TVec4d>(level, w, first, last, t, out);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RowsAvx2(std::span<const float> level, int32_t w, int32_t first, int32_t last, double t,
                            float* out) {
  Rows<TVec4d>(level, w, first, last, t, out);
}
#endif

}  // namespace

void PlainMeanRows(std::span<const float> level, int32_t w, int32_t h, int32_t first, int32_t last, double t,
                   std::span<float> out, bool vector) {
  if (first >= last) return;
  if (w < 5 || first < 2 || last > h - 2 || level.size() < size_t(int64_t(w) * h) || out.size() < level.size())
    throw std::invalid_argument("plain mean rows outside the level's interior");
  if (!vector) return RowsScalar(level, w, first, last, t, out.data());
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(true)) return RowsAvx2(level, w, first, last, t, out.data());
#endif
  RowsSse2(level, w, first, last, t, out.data());
}

}  // namespace astrelon
