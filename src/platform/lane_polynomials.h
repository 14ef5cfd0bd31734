#pragma once
// Elementary functions as short single-precision polynomials, written once for
// a plain float and for GCC vectors of floats (vector_lanes.h), so that a
// vector path and its scalar twin give the same bits: the integer view of the
// lanes, cosine and sine of an angle reduced to at most an eighth turn, cosine
// and sine of an angle in radians, and the arc tangent of y/x by quadrant.
// Products and sums are separate operations: a file that instantiates these in
// code that may get fused multiply-adds (AVX-512) must switch contraction off.
#include <bit>
#include <cstdint>

#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::simd {

// The integer lanes of a float lane type (as many 32-bit lanes).
template <class V>
struct TInt {
  typedef int32_t Type __attribute__((vector_size(sizeof(V))));
};
template <>
struct TInt<float> {
  using Type = int32_t;
};
template <class V>
using Int = typename TInt<V>::Type;

// The bits of a float lane as an integer and back (a vector by a vector cast:
// the sanitizer misreads a bit_cast of a vector).
template <class V>
[[gnu::always_inline]] inline Int<V> BitsOf(V v) {
  if constexpr (LaneCount<V> == 1)
    return std::bit_cast<int32_t>(v);
  else
    return (Int<V>)v;
}
template <class V>
[[gnu::always_inline]] inline V FloatOf(Int<V> v) {
  if constexpr (LaneCount<V> == 1)
    return std::bit_cast<float>(v);
  else
    return (V)v;
}
template <class V>
[[gnu::always_inline]] inline V ToFloat(Int<V> v) {
  if constexpr (LaneCount<V> == 1)
    return float(v);
  else
    return __builtin_convertvector(v, V);
}
// Toward zero.
template <class V>
[[gnu::always_inline]] inline Int<V> ToInt(V v) {
  if constexpr (LaneCount<V> == 1)
    return int32_t(v);
  else
    return __builtin_convertvector(v, Int<V>);
}

// cos(a + q·π/2) and sin(a + q·π/2) for |a| <= π/4: polynomials in a, then
// the quarter turns q (odd q swaps sine and cosine, q = 1, 2 mod 4 negates the
// cosine, q = 2, 3 the sine).
template <class V>
[[gnu::always_inline]] inline void CosSinQuarters(V a, Int<V> q, V& c, V& s) {
  const V z = a * a;
  V sa = Splat<V>(-1.9515295891e-4f) * z + Splat<V>(8.3321608736e-3f);
  sa = sa * z - Splat<V>(1.6666654611e-1f);
  sa = sa * z * a + a;
  V ca = Splat<V>(2.443315711809948e-5f) * z - Splat<V>(1.388731625493765e-3f);
  ca = ca * z + Splat<V>(4.166664568298827e-2f);
  ca = ca * z * z - Splat<V>(0.5f) * z + Splat<V>(1.0f);
  const auto odd = (q & 1) != 0;
  const V c0 = odd ? sa : ca, s0 = odd ? ca : sa;
  c = ((q + 1) & 2) != 0 ? -c0 : c0;
  s = (q & 2) != 0 ? -s0 : s0;
}

// cos x and sin x for |x| up to a few thousand: the nearest multiple q·π/2
// (rounded half to even) is taken off in three exact-product parts.
template <class V>
[[gnu::always_inline]] inline void CosSin(V x, V& c, V& s) {
  const V shifter = Splat<V>(12582912.0f);  // 1.5·2^23: adding it rounds to an integer
  const V y = x * Splat<V>(0.636619772367581343f) + shifter;
  const Int<V> q = BitsOf(y) - BitsOf(shifter);
  const V k = y - shifter;
  const V a = ((x - k * Splat<V>(1.5703125f)) - k * Splat<V>(4.837512969970703125e-4f)) -
              k * Splat<V>(7.54978995489188216e-8f);
  CosSinQuarters(a, q, c, s);
}

// The angle of (x, y) in [−π, π] as atan2 gives it, signed zeros included:
// the smaller of |x|, |y| over the larger, above tan(π/8) moved by an eighth
// turn, an odd polynomial, then the octant.
template <class V>
[[gnu::always_inline]] inline V Atan2(V y, V x) {
  const Int<V> sign = Int<V>{} + int32_t(0x80000000u), magnitude = ~sign;
  const V ax = FloatOf<V>(BitsOf(x) & magnitude), ay = FloatOf<V>(BitsOf(y) & magnitude);
  const auto steep = ay > ax;
  const V num = steep ? ax : ay, den = steep ? ay : ax;
  V t = num / den;
  t = den == Splat<V>(0.0f) ? Splat<V>(0.0f) : t;
  const auto wide = t > Splat<V>(0.414213562373095f);
  t = wide ? (t - Splat<V>(1.0f)) / (t + Splat<V>(1.0f)) : t;
  const V z = t * t;
  V r = Splat<V>(8.05374449538e-2f) * z - Splat<V>(1.38776856032e-1f);
  r = r * z + Splat<V>(1.99777106478e-1f);
  r = r * z - Splat<V>(3.33329491539e-1f);
  r = r * z * t + t;
  r = wide ? r + Splat<V>(0.785398163397448f) : r;
  r = steep ? Splat<V>(1.5707963267948966f) - r : r;
  r = (BitsOf(x) & sign) != 0 ? Splat<V>(3.14159265358979f) - r : r;
  return FloatOf<V>(BitsOf(r) | (BitsOf(y) & sign));
}

}  // namespace astrelon::simd

#pragma GCC diagnostic pop
