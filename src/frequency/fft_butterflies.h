#pragma once
// Butterflies and factor passes of the mixed-radix engine, written once for a
// lane type V: double (one sequence) or a vector of doubles (one sequence per
// lane). Every lane runs the same operations in the same order as the scalar
// code, so the lane count never changes a result. Only fft_plan.cpp includes this.
#include <cstdint>

#include "frequency/fft_plan.h"

#define ASTRELON_FFT_INLINE inline __attribute__((always_inline))

namespace astrelon::fft {

using TLanes2 = double __attribute__((vector_size(16), __may_alias__));
using TLanes4 = double __attribute__((vector_size(32), __may_alias__));

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
ASTRELON_FFT_INLINE void Rotate(V& xr, V& xi, double wr, double wi) {
  const V t = xr * wr - xi * wi;
  xi = xr * wi + xi * wr;
  xr = t;
}

template <class V>
ASTRELON_FFT_INLINE void Dft2(V* r, V* i) {
  const V ar = r[0] - r[1], ai = i[0] - i[1];
  r[0] = r[0] + r[1];
  i[0] = i[0] + i[1];
  r[1] = ar;
  i[1] = ai;
}

template <class V>
ASTRELON_FFT_INLINE void Dft3(V* r, V* i) {
  const V tr = r[1] + r[2], ti = i[1] + i[2];
  const V sr = (r[1] - r[2]) * S3, si = (i[1] - i[2]) * S3;
  const V mr = r[0] - tr * 0.5, mi = i[0] - ti * 0.5;
  r[0] = r[0] + tr;
  i[0] = i[0] + ti;
  r[1] = mr + si;
  i[1] = mi - sr;
  r[2] = mr - si;
  i[2] = mi + sr;
}

// Four points at a stride (in and out may be the same).
template <class V>
ASTRELON_FFT_INLINE void Dft4(const V* r, const V* i, int s, V* orr, V* oi, int os) {
  const V ar = r[0] + r[2 * s], ai = i[0] + i[2 * s];
  const V br = r[0] - r[2 * s], bi = i[0] - i[2 * s];
  const V cr = r[s] + r[3 * s], ci = i[s] + i[3 * s];
  const V dr = r[s] - r[3 * s], di = i[s] - i[3 * s];
  orr[0] = ar + cr;
  oi[0] = ai + ci;
  orr[2 * os] = ar - cr;
  oi[2 * os] = ai - ci;
  orr[os] = br + di;
  oi[os] = bi - dr;
  orr[3 * os] = br - di;
  oi[3 * os] = bi + dr;
}

template <class V>
ASTRELON_FFT_INLINE void Dft5(const V* r, const V* i, int s, V* orr, V* oi, int os) {
  const V t1r = r[s] + r[4 * s], t1i = i[s] + i[4 * s];
  const V t2r = r[2 * s] + r[3 * s], t2i = i[2 * s] + i[3 * s];
  const V d1r = r[s] - r[4 * s], d1i = i[s] - i[4 * s];
  const V d2r = r[2 * s] - r[3 * s], d2i = i[2 * s] - i[3 * s];
  const V x0r = r[0], x0i = i[0];
  const V a1r = x0r + t1r * C5a + t2r * C5b, a1i = x0i + t1i * C5a + t2i * C5b;
  const V a2r = x0r + t1r * C5b + t2r * C5a, a2i = x0i + t1i * C5b + t2i * C5a;
  const V b1r = d1r * S5a + d2r * S5b, b1i = d1i * S5a + d2i * S5b;
  const V b2r = d1r * S5b - d2r * S5a, b2i = d1i * S5b - d2i * S5a;
  orr[0] = x0r + t1r + t2r;
  oi[0] = x0i + t1i + t2i;
  orr[os] = a1r + b1i;
  oi[os] = a1i - b1r;
  orr[4 * os] = a1r - b1i;
  oi[4 * os] = a1i + b1r;
  orr[2 * os] = a2r + b2i;
  oi[2 * os] = a2i - b2r;
  orr[3 * os] = a2r - b2i;
  oi[3 * os] = a2i + b2r;
}

// Points k and k + H of a transform of 2H points from the transforms of its even
// and (already turned) odd points.
template <class V, int H>
ASTRELON_FFT_INLINE void JoinHalves(V* r, V* i, const V* er, const V* ei, const V* orr, const V* oi) {
  for (int k = 0; k < H; ++k) {
    r[k] = er[k] + orr[k];
    i[k] = ei[k] + oi[k];
    r[k + H] = er[k] - orr[k];
    i[k + H] = ei[k] - oi[k];
  }
}

template <class V>
ASTRELON_FFT_INLINE void Dft8(V* r, V* i) {
  V er[4], ei[4], orr[4], oi[4];
  Dft4(r, i, 2, er, ei, 1);
  Dft4(r + 1, i + 1, 2, orr, oi, 1);
  // Odd half times e^(−2πik/8).
  {
    const V a = orr[1], b = oi[1];
    orr[1] = (a + b) * C8;
    oi[1] = (b - a) * C8;
  }
  {
    const V a = orr[2];
    orr[2] = oi[2];
    oi[2] = -a;
  }
  {
    const V a = orr[3], b = oi[3];
    orr[3] = (b - a) * C8;
    oi[3] = -(a + b) * C8;
  }
  JoinHalves<V, 4>(r, i, er, ei, orr, oi);
}

template <class V>
ASTRELON_FFT_INLINE void Dft10(V* r, V* i) {
  V er[5], ei[5], orr[5], oi[5];
  Dft5(r, i, 2, er, ei, 1);
  Dft5(r + 1, i + 1, 2, orr, oi, 1);
  Rotate(orr[1], oi[1], C10a, -S10a);
  Rotate(orr[2], oi[2], C10b, -S10b);
  Rotate(orr[3], oi[3], -C10b, -S10b);
  Rotate(orr[4], oi[4], -C10a, -S10a);
  JoinHalves<V, 5>(r, i, er, ei, orr, oi);
}

// Any odd radix R (at most 37) from its cos/sin table, pairing points r and R − r.
template <class V>
ASTRELON_FFT_INLINE void DftOdd(V* r, V* i, int R, const double* c, const double* s) {
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

template <class V, int R>
ASTRELON_FFT_INLINE void FixedDft(V* r, V* i) {
  if constexpr (R == 2) Dft2(r, i);
  else if constexpr (R == 3) Dft3(r, i);
  else if constexpr (R == 4) Dft4(r, i, 1, r, i, 1);
  else if constexpr (R == 5) Dft5(r, i, 1, r, i, 1);
  else if constexpr (R == 8) Dft8(r, i);
  else Dft10(r, i);
}

// One butterfly of R points at stride P, all but the first turned by the
// group's twiddles (group 0 has none), then the DFT of the radix.
template <class V, int R, class Dft>
ASTRELON_FFT_INLINE void Butterfly(V* gr, V* gi, int64_t P, int radix, const double* w, bool turn, Dft&& dft) {
  V ar[R], ai[R];
  for (int k = 0; k < radix; ++k) {
    ar[k] = gr[k * P];
    ai[k] = gi[k * P];
  }
  if (turn)
    for (int k = 1; k < radix; ++k) Rotate(ar[k], ai[k], w[2 * (k - 1)], w[2 * (k - 1) + 1]);
  dft(ar, ai);
  for (int k = 0; k < radix; ++k) {
    gr[k * P] = ar[k];
    gi[k * P] = ai[k];
  }
}

// One pass: the butterflies of every twiddle group. With many groups the groups
// run innermost, so that each of the points walks memory in order.
template <class V, int R, class Dft>
ASTRELON_FFT_INLINE void Pass(V* re, V* im, const TFftPass& pass, const double* tw, Dft&& dft) {
  const int radix = pass.Radix;
  const int64_t P = pass.P, span = P * radix;
  const size_t step = size_t(2 * (radix - 1));
  if (P >= pass.Q) {
    for (int64_t q = 0; q < pass.Q; ++q) {
      V* gr = re + q * span;
      V* gi = im + q * span;
      for (int64_t j = 0; j < P; ++j) Butterfly<V, R>(gr + j, gi + j, P, radix, tw + size_t(j) * step, j != 0, dft);
    }
    return;
  }
  for (int64_t j = 0; j < P; ++j) {
    const double* w = tw + size_t(j) * step;
    V* gr = re + j;
    V* gi = im + j;
    for (int64_t q = 0; q < pass.Q; ++q, gr += span, gi += span) Butterfly<V, R>(gr, gi, P, radix, w, j != 0, dft);
  }
}

template <class V, int R>
ASTRELON_FFT_INLINE void FixedPass(V* re, V* im, const TFftPass& pass, const double* tw) {
  Pass<V, R>(re, im, pass, tw, [](V* r, V* i) __attribute__((always_inline)) { FixedDft<V, R>(r, i); });
}

template <class V>
ASTRELON_FFT_INLINE void OddPass(V* re, V* im, const TFftPass& pass, const double* tw, const double* dft) {
  const int R = pass.Radix;
  Pass<V, 37>(re, im, pass, tw, [R, dft](V* r, V* i) __attribute__((always_inline)) { DftOdd(r, i, R, dft, dft + R); });
}

// Every pass of the plan over data at its permuted positions.
template <class V>
ASTRELON_FFT_INLINE void RunPasses(const TFftPlan& plan, V* re, V* im) {
  for (const TFftPass& pass : plan.Passes) {
    const double* tw = plan.Twiddles.data() + pass.Twiddles;
    switch (pass.Radix) {
      case 1: break;
      case 2: FixedPass<V, 2>(re, im, pass, tw); break;
      case 3: FixedPass<V, 3>(re, im, pass, tw); break;
      case 4: FixedPass<V, 4>(re, im, pass, tw); break;
      case 5: FixedPass<V, 5>(re, im, pass, tw); break;
      case 8: FixedPass<V, 8>(re, im, pass, tw); break;
      case 10: FixedPass<V, 10>(re, im, pass, tw); break;
      default: OddPass<V>(re, im, pass, tw, plan.DftTables.data() + pass.Dft); break;
    }
  }
}

}  // namespace astrelon::fft
