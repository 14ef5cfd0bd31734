#pragma once
// Pairs of standard-normal values from pairs of uniform ones (Box–Muller):
// z0 = r cos 2πu2 and z1 = r sin 2πu2 with r = sqrt(−2 ln u1). The logarithm,
// sine and cosine are short polynomials (single precision, relative error a few
// 1e-7) written once for a plain float and for a GCC vector of floats, so that
// a vector path and its scalar twin give the same bits.
#include <cmath>
#include <cstdint>

#include "platform/lane_polynomials.h"
#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::boxmuller {

typedef int32_t TVec8i __attribute__((vector_size(32)));

using simd::BitsOf;
using simd::FloatOf;
using simd::Int;
using simd::ToFloat;
using simd::ToInt;

// ln u for u in (0, 1] (a float with its exponent split off; the mantissa's
// logarithm as a polynomial).
template <class V>
[[gnu::always_inline]] inline V Log(V u) {
  using I = Int<V>;
  const I bits = BitsOf(u);
  // u = x 2^e with x in [0.5, 1).
  I e = ((bits >> 23) & 0xFF) - 126;
  V x = FloatOf<V>((bits & 0x007FFFFF) | 0x3F000000);
  const auto small = x < simd::Splat<V>(0.707106781186547524f);
  e = small ? e - 1 : e;
  x = small ? x + x - simd::Splat<V>(1.0f) : x - simd::Splat<V>(1.0f);
  const V z = x * x;
  V y = simd::Splat<V>(7.0376836292e-2f) * x - simd::Splat<V>(1.1514610310e-1f);
  y = y * x + simd::Splat<V>(1.1676998740e-1f);
  y = y * x - simd::Splat<V>(1.2420140846e-1f);
  y = y * x + simd::Splat<V>(1.4249322787e-1f);
  y = y * x - simd::Splat<V>(1.6668057665e-1f);
  y = y * x + simd::Splat<V>(2.0000714765e-1f);
  y = y * x - simd::Splat<V>(2.4999993993e-1f);
  y = y * x + simd::Splat<V>(3.3333331174e-1f);
  y = y * x * z;
  const V ef = ToFloat<V>(e);
  y = y + simd::Splat<V>(-2.12194440e-4f) * ef;
  y = y - simd::Splat<V>(0.5f) * z;
  return (x + y) + simd::Splat<V>(0.693359375f) * ef;
}

// cos 2πu and sin 2πu for u in [0, 1]: the nearest quarter turn q/4 is taken
// off exactly, the rest (at most an eighth turn) goes through the polynomials.
template <class V>
[[gnu::always_inline]] inline void CosSinTurn(V u, V& c, V& s) {
  using I = Int<V>;
  const I q = ToInt(u * simd::Splat<V>(4.0f) + simd::Splat<V>(0.5f));
  const V a = (u - ToFloat<V>(q) * simd::Splat<V>(0.25f)) * simd::Splat<V>(6.28318530717958648f);
  simd::CosSinQuarters(a, q, c, s);
}

// The uniform values of a pair from 24 random bits (the top ones of x): u1 in
// (0, 1], u2 in [0, 1).
[[gnu::always_inline]] inline float FirstUniform(uint32_t x) { return float(int32_t(x >> 8) + 1) * 0x1p-24f; }
[[gnu::always_inline]] inline float SecondUniform(uint32_t x) { return float(int32_t(x >> 8)) * 0x1p-24f; }

// One pair of normal values from u1 in (0, 1] and u2 in [0, 1). The eight-lane
// twin lives in the AVX code that calls it (its square root is an instruction
// of that code): r = sqrt(−2 Log(u1)), then r times CosSinTurn(u2).
[[gnu::always_inline]] inline void BoxMuller(float u1, float u2, float& z0, float& z1) {
  const float r = std::sqrt(-2.0f * Log(u1));
  float c, s;
  CosSinTurn(u2, c, s);
  z0 = r * c;
  z1 = r * s;
}

}  // namespace astrelon::boxmuller

#pragma GCC diagnostic pop
