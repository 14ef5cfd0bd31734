#pragma once
// Butterflies and factor passes of the mixed-radix engine, written once for a
// lane type V: double or float (one sequence) or a vector of them (one sequence
// per lane), with twiddles and constants of the lanes' type. Every lane runs
// the same operations in the same order as the scalar code, so the lane count
// never changes a result. Only fft_plan.cpp includes this.
#include <cstdint>
#include <type_traits>
#include <utility>

#include "kernels/fft/fft_plan.h"

#define ASTRELON_FFT_INLINE inline __attribute__((always_inline))

namespace astrelon::fft {

using TLanes2 = double __attribute__((vector_size(16), __may_alias__));
using TLanes4 = double __attribute__((vector_size(32), __may_alias__));
// Eight lanes need not stand on 64-byte boundaries.
using TLanes8 = double __attribute__((vector_size(64), __may_alias__, aligned(32)));
using TLanesF4 = float __attribute__((vector_size(16), __may_alias__));
using TLanesF8 = float __attribute__((vector_size(32), __may_alias__));
using TLanesF16 = float __attribute__((vector_size(64), __may_alias__));

// The number type of a lane type's lanes (double or float).
template <class V>
struct TLaneReal {
  using Type = std::remove_cvref_t<decltype(std::declval<V>()[0])>;
};
template <>
struct TLaneReal<double> {
  using Type = double;
};
template <>
struct TLaneReal<float> {
  using Type = float;
};
template <class V>
using Real = typename TLaneReal<V>::Type;

// sin and cos of the radix-3, -5, -8 and -10 angles.
inline constexpr double S3 = 0.86602540378443864676;   // sin(2π/3)
inline constexpr double C5a = 0.30901699437494742410;  // cos(2π/5)
inline constexpr double C5b = -0.80901699437494742410; // cos(4π/5)
inline constexpr double S5a = 0.95105651629515357212;  // sin(2π/5)
inline constexpr double S5b = 0.58778525229247312917;  // sin(4π/5)
inline constexpr double C8 = 0.70710678118654752440;   // 1/√2
inline constexpr double C10a = 0.80901699437494742410; // cos(π/5)
inline constexpr double S10a = 0.58778525229247312917; // sin(π/5)
inline constexpr double C10b = 0.30901699437494742410; // cos(2π/5)
inline constexpr double S10b = 0.95105651629515357212; // sin(2π/5)

// x := x · (wr + i·wi)
template <class V>
ASTRELON_FFT_INLINE void Rotate(V& xr, V& xi, Real<V> wr, Real<V> wi) {
  const V t = xr * wr - xi * wi;
  xi = xr * wi + xi * wr;
  xr = t;
}

// The small DFTs work in place on named values (x0 = (x0r, x0i), …), so that
// the compiler keeps them in registers.

template <class V>
ASTRELON_FFT_INLINE void Dft2(V& x0r, V& x0i, V& x1r, V& x1i) {
  const V ar = x0r - x1r, ai = x0i - x1i;
  x0r = x0r + x1r;
  x0i = x0i + x1i;
  x1r = ar;
  x1i = ai;
}

template <class V>
ASTRELON_FFT_INLINE void Dft3(V& x0r, V& x0i, V& x1r, V& x1i, V& x2r, V& x2i) {
  const V tr = x1r + x2r, ti = x1i + x2i;
  const V sr = (x1r - x2r) * Real<V>(S3), si = (x1i - x2i) * Real<V>(S3);
  const V mr = x0r - tr * Real<V>(0.5), mi = x0i - ti * Real<V>(0.5);
  x0r = x0r + tr;
  x0i = x0i + ti;
  x1r = mr + si;
  x1i = mi - sr;
  x2r = mr - si;
  x2i = mi + sr;
}

template <class V>
ASTRELON_FFT_INLINE void Dft4(V& x0r, V& x0i, V& x1r, V& x1i, V& x2r, V& x2i, V& x3r, V& x3i) {
  const V ar = x0r + x2r, ai = x0i + x2i;
  const V br = x0r - x2r, bi = x0i - x2i;
  const V cr = x1r + x3r, ci = x1i + x3i;
  const V dr = x1r - x3r, di = x1i - x3i;
  x0r = ar + cr;
  x0i = ai + ci;
  x2r = ar - cr;
  x2i = ai - ci;
  x1r = br + di;
  x1i = bi - dr;
  x3r = br - di;
  x3i = bi + dr;
}

template <class V>
ASTRELON_FFT_INLINE void Dft5(V& x0r, V& x0i, V& x1r, V& x1i, V& x2r, V& x2i, V& x3r, V& x3i, V& x4r, V& x4i) {
  const V t1r = x1r + x4r, t1i = x1i + x4i;
  const V t2r = x2r + x3r, t2i = x2i + x3i;
  const V d1r = x1r - x4r, d1i = x1i - x4i;
  const V d2r = x2r - x3r, d2i = x2i - x3i;
  const V a1r = x0r + t1r * Real<V>(C5a) + t2r * Real<V>(C5b), a1i = x0i + t1i * Real<V>(C5a) + t2i * Real<V>(C5b);
  const V a2r = x0r + t1r * Real<V>(C5b) + t2r * Real<V>(C5a), a2i = x0i + t1i * Real<V>(C5b) + t2i * Real<V>(C5a);
  const V b1r = d1r * Real<V>(S5a) + d2r * Real<V>(S5b), b1i = d1i * Real<V>(S5a) + d2i * Real<V>(S5b);
  const V b2r = d1r * Real<V>(S5b) - d2r * Real<V>(S5a), b2i = d1i * Real<V>(S5b) - d2i * Real<V>(S5a);
  x0r = x0r + t1r + t2r;
  x0i = x0i + t1i + t2i;
  x1r = a1r + b1i;
  x1i = a1i - b1r;
  x4r = a1r - b1i;
  x4i = a1i + b1r;
  x2r = a2r + b2i;
  x2i = a2i - b2r;
  x3r = a2r - b2i;
  x3i = a2i + b2r;
}

// e := e + o and o := e − o (o already turned): points k and k + H of a
// transform of 2H points from the transforms of its even and odd points.
template <class V>
ASTRELON_FFT_INLINE void Join(V& er, V& ei, V& orr, V& oi) {
  const V sr = er + orr, si = ei + oi;
  orr = er - orr;
  oi = ei - oi;
  er = sr;
  ei = si;
}

// Loads R points at stride P and turns all but the first by the twiddles.
#define ASTRELON_FFT_LOAD(k)    \
  V x##k##r = gr[(k) * P];      \
  V x##k##i = gi[(k) * P];      \
  if ((k) > 0 && turn) Rotate(x##k##r, x##k##i, w[2 * (k) - 2], w[2 * (k) - 1]);
#define ASTRELON_FFT_STORE(at, k) \
  gr[(at) * P] = x##k##r;         \
  gi[(at) * P] = x##k##i;

template <class V>
ASTRELON_FFT_INLINE void Butterfly2(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1)
  Dft2(x0r, x0i, x1r, x1i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 1)
}

template <class V>
ASTRELON_FFT_INLINE void Butterfly3(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1) ASTRELON_FFT_LOAD(2)
  Dft3(x0r, x0i, x1r, x1i, x2r, x2i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 1) ASTRELON_FFT_STORE(2, 2)
}

template <class V>
ASTRELON_FFT_INLINE void Butterfly4(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1) ASTRELON_FFT_LOAD(2) ASTRELON_FFT_LOAD(3)
  Dft4(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 1) ASTRELON_FFT_STORE(2, 2) ASTRELON_FFT_STORE(3, 3)
}

template <class V>
ASTRELON_FFT_INLINE void Butterfly5(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1) ASTRELON_FFT_LOAD(2) ASTRELON_FFT_LOAD(3) ASTRELON_FFT_LOAD(4)
  Dft5(x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i, x4r, x4i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 1) ASTRELON_FFT_STORE(2, 2) ASTRELON_FFT_STORE(3, 3)
  ASTRELON_FFT_STORE(4, 4)
}

// Radix 8 from the radix-4 transforms of the even and the odd points.
template <class V>
ASTRELON_FFT_INLINE void Butterfly8(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1) ASTRELON_FFT_LOAD(2) ASTRELON_FFT_LOAD(3)
  ASTRELON_FFT_LOAD(4) ASTRELON_FFT_LOAD(5) ASTRELON_FFT_LOAD(6) ASTRELON_FFT_LOAD(7)
  Dft4(x0r, x0i, x2r, x2i, x4r, x4i, x6r, x6i);
  Dft4(x1r, x1i, x3r, x3i, x5r, x5i, x7r, x7i);
  // Odd half times e^(−2πik/8).
  {
    const V a = x3r, b = x3i;
    x3r = (a + b) * Real<V>(C8);
    x3i = (b - a) * Real<V>(C8);
  }
  {
    const V a = x5r;
    x5r = x5i;
    x5i = -a;
  }
  {
    const V a = x7r, b = x7i;
    x7r = (b - a) * Real<V>(C8);
    x7i = -(a + b) * Real<V>(C8);
  }
  Join(x0r, x0i, x1r, x1i);
  Join(x2r, x2i, x3r, x3i);
  Join(x4r, x4i, x5r, x5i);
  Join(x6r, x6i, x7r, x7i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 2) ASTRELON_FFT_STORE(2, 4) ASTRELON_FFT_STORE(3, 6)
  ASTRELON_FFT_STORE(4, 1) ASTRELON_FFT_STORE(5, 3) ASTRELON_FFT_STORE(6, 5) ASTRELON_FFT_STORE(7, 7)
}

// Radix 10 from the radix-5 transforms of the even and the odd points.
template <class V>
ASTRELON_FFT_INLINE void Butterfly10(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) {
  ASTRELON_FFT_LOAD(0) ASTRELON_FFT_LOAD(1) ASTRELON_FFT_LOAD(2) ASTRELON_FFT_LOAD(3) ASTRELON_FFT_LOAD(4)
  ASTRELON_FFT_LOAD(5) ASTRELON_FFT_LOAD(6) ASTRELON_FFT_LOAD(7) ASTRELON_FFT_LOAD(8) ASTRELON_FFT_LOAD(9)
  Dft5(x0r, x0i, x2r, x2i, x4r, x4i, x6r, x6i, x8r, x8i);
  Dft5(x1r, x1i, x3r, x3i, x5r, x5i, x7r, x7i, x9r, x9i);
  Rotate(x3r, x3i, C10a, -S10a);
  Rotate(x5r, x5i, C10b, -S10b);
  Rotate(x7r, x7i, -C10b, -S10b);
  Rotate(x9r, x9i, -C10a, -S10a);
  Join(x0r, x0i, x1r, x1i);
  Join(x2r, x2i, x3r, x3i);
  Join(x4r, x4i, x5r, x5i);
  Join(x6r, x6i, x7r, x7i);
  Join(x8r, x8i, x9r, x9i);
  ASTRELON_FFT_STORE(0, 0) ASTRELON_FFT_STORE(1, 2) ASTRELON_FFT_STORE(2, 4) ASTRELON_FFT_STORE(3, 6)
  ASTRELON_FFT_STORE(4, 8) ASTRELON_FFT_STORE(5, 1) ASTRELON_FFT_STORE(6, 3) ASTRELON_FFT_STORE(7, 5)
  ASTRELON_FFT_STORE(8, 7) ASTRELON_FFT_STORE(9, 9)
}

#undef ASTRELON_FFT_LOAD
#undef ASTRELON_FFT_STORE

// Any odd radix R (at most 37) from its cos/sin table, pairing points r and R − r.
template <class V>
ASTRELON_FFT_INLINE void DftOdd(V* r, V* i, int R, const Real<V>* c, const Real<V>* s) {
  V sr[19], si[19], dr[19], di[19];
  const int h = (R - 1) / 2;
  V y0r = r[0], y0i = i[0];
  for (int m = 1; m <= h; ++m) {
    sr[m] = r[m] + r[R - m];
    si[m] = i[m] + i[R - m];
    dr[m] = r[m] - r[R - m];
    di[m] = i[m] - i[R - m];
    y0r = y0r + sr[m];
    y0i = y0i + si[m];
  }
  V outR[37], outI[37];
  for (int k = 1; k <= h; ++k) {
    V pr = r[0], pi = i[0], qr = V{}, qi = V{};
    int a = 0;
    for (int m = 1; m <= h; ++m) {
      a += k;
      if (a >= R) a -= R;
      pr = pr + sr[m] * c[a];
      pi = pi + si[m] * c[a];
      qr = qr + dr[m] * s[a];
      qi = qi + di[m] * s[a];
    }
    outR[k] = pr + qi;
    outI[k] = pi - qr;
    outR[R - k] = pr - qi;
    outI[R - k] = pi + qr;
  }
  r[0] = y0r;
  i[0] = y0i;
  for (int k = 1; k < R; ++k) {
    r[k] = outR[k];
    i[k] = outI[k];
  }
}

// The general odd radix: R points at stride P gathered, turned, transformed and
// scattered back.
template <class V>
ASTRELON_FFT_INLINE void ButterflyOdd(V* gr, V* gi, int64_t P, const Real<V>* w, bool turn, int R, const Real<V>* dft) {
  V ar[LargestFftRadix], ai[LargestFftRadix];
  for (int k = 0; k < R; ++k) {
    ar[k] = gr[k * P];
    ai[k] = gi[k * P];
  }
  if (turn)
    for (int k = 1; k < R; ++k) Rotate(ar[k], ai[k], w[2 * (k - 1)], w[2 * (k - 1) + 1]);
  DftOdd(ar, ai, R, dft, dft + R);
  for (int k = 0; k < R; ++k) {
    gr[k * P] = ar[k];
    gi[k * P] = ai[k];
  }
}

// One pass: butterfly(gr, gi, P, twiddles, turn) for every butterfly of every
// twiddle group (group 0 is not turned). With many groups the groups run
// innermost, so that each of the points walks memory in order.
template <class V, class B>
ASTRELON_FFT_INLINE void Pass(V* re, V* im, const TFftPass& pass, const Real<V>* tw, B&& butterfly) {
  const int64_t P = pass.P, span = P * pass.Radix;
  const size_t step = size_t(2 * (pass.Radix - 1));
  if (P >= pass.Q) {
    for (int64_t q = 0; q < pass.Q; ++q) {
      V* gr = re + q * span;
      V* gi = im + q * span;
      for (int64_t j = 0; j < P; ++j) butterfly(gr + j, gi + j, P, tw + size_t(j) * step, j != 0);
    }
    return;
  }
  for (int64_t j = 0; j < P; ++j) {
    const Real<V>* w = tw + size_t(j) * step;
    V* gr = re + j;
    V* gi = im + j;
    for (int64_t q = 0; q < pass.Q; ++q, gr += span, gi += span) butterfly(gr, gi, P, w, j != 0);
  }
}

// The plan's tables in the lanes' number type.
template <class T>
const T* PlanTwiddles(const TFftPlan& plan) {
  if constexpr (std::is_same_v<T, float>)
    return plan.TwiddlesSingle.data();
  else
    return plan.Twiddles.data();
}
template <class T>
const T* PlanDftTables(const TFftPlan& plan) {
  if constexpr (std::is_same_v<T, float>)
    return plan.DftTablesSingle.data();
  else
    return plan.DftTables.data();
}

#define ASTRELON_FFT_PASS(B) \
  Pass(re, im, pass, tw, [](V* gr, V* gi, int64_t P, const Real<V>* w, bool turn) __attribute__((always_inline)) { B(gr, gi, P, w, turn); })

template <class V>
ASTRELON_FFT_INLINE void RunPass(const TFftPlan& plan, const TFftPass& pass, V* re, V* im) {
  const Real<V>* tw = PlanTwiddles<Real<V>>(plan) + pass.Twiddles;
  switch (pass.Radix) {
    case 1: break;
    case 2: ASTRELON_FFT_PASS(Butterfly2<V>); break;
    case 3: ASTRELON_FFT_PASS(Butterfly3<V>); break;
    case 4: ASTRELON_FFT_PASS(Butterfly4<V>); break;
    case 5: ASTRELON_FFT_PASS(Butterfly5<V>); break;
    case 8: ASTRELON_FFT_PASS(Butterfly8<V>); break;
    case 10: ASTRELON_FFT_PASS(Butterfly10<V>); break;
    default: {
      const int R = pass.Radix;
      const Real<V>* dft = PlanDftTables<Real<V>>(plan) + pass.Dft;
      Pass(re, im, pass, tw, [R, dft](V* gr, V* gi, int64_t P, const Real<V>* w, bool turn)
                                 __attribute__((always_inline)) { ButterflyOdd(gr, gi, P, w, turn, R, dft); });
      break;
    }
  }
}

// Every pass of the plan over data at its permuted positions. The first passes
// work on blocks of their span (P · radix points) that fit the first-level
// cache together: they run block by block, each block through all of them,
// which does the same butterflies in another order.
template <class V>
ASTRELON_FFT_INLINE void RunPasses(const TFftPlan& plan, V* re, V* im) {
  constexpr int64_t CacheBytes = 16384;
  const int count = int(plan.Passes.size());
  int inner = 0;  // passes 0 .. inner − 1 run block by block
  int64_t span = 1;
  while (inner < count) {
    const int64_t next = int64_t(plan.Passes[size_t(inner)].P) * plan.Passes[size_t(inner)].Radix;
    if (next * int64_t(2 * sizeof(V)) > CacheBytes) break;
    span = next;
    ++inner;
  }
  if (inner < 2) {
    inner = 0;
  } else {
    for (int64_t b = 0; b < plan.Length; b += span)
      for (int t = 0; t < inner; ++t) {
        TFftPass pass = plan.Passes[size_t(t)];
        pass.Q = int32_t(span / (int64_t(pass.P) * pass.Radix));
        RunPass(plan, pass, re + b, im + b);
      }
  }
  for (int t = inner; t < count; ++t) RunPass(plan, plan.Passes[size_t(t)], re, im);
}

}  // namespace astrelon::fft
