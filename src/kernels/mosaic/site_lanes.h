#pragma once
// Lanes over the sites of one column parity of a mosaic row (every second
// value), for the vector loops of the mosaic fills; a plain float or double
// stands for one site, so one loop body serves the scalar twin too.
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::simd {

typedef int32_t TVec8i __attribute__((vector_size(32)));
typedef int64_t TVec4l __attribute__((vector_size(32)));

// |v| lane by lane, as std::abs: the sign bit cleared.
template <class V>
[[gnu::always_inline]] inline V AbsLanes(V v) {
  if constexpr (std::is_arithmetic_v<V>)
    return std::abs(v);
  else if constexpr (std::is_same_v<V, TVec8f>)
    return (V)((TVec8i)v & 0x7fffffff);
  else if constexpr (std::is_same_v<V, TVec4f>)
    return (V)((TVec4i)v & 0x7fffffff);
  else
    return (V)((TVec4l)v & 0x7fffffffffffffffll);
}

// p[0], p[2], ... into the lanes of V (float vectors); reads 2 LaneCount<V> values.
template <class V>
[[gnu::always_inline]] inline V Every2(const float* p) {
  if constexpr (std::is_same_v<V, float>) {
    return *p;
  } else if constexpr (std::is_same_v<V, TVec8f>) {
    const TVec8f a = LoadLanes<TVec8f>(p), b = LoadLanes<TVec8f>(p + 8);
    return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14);
  } else {
    const TVec4f a = LoadLanes<TVec4f>(p), b = LoadLanes<TVec4f>(p + 4);
    return __builtin_shufflevector(a, b, 0, 2, 4, 6);
  }
}

// The same, reading p[0], p[2], ... alone: for rows whose other sites another
// worker may be writing.
template <class V>
[[gnu::always_inline]] inline V Every2Alone(const float* p) {
  if constexpr (std::is_same_v<V, float>) {
    return *p;
  } else {
    V v;
    for (int l = 0; l < LaneCount<V>; ++l) v[l] = p[2 * l];
    return v;
  }
}

// The lanes of v to p[0], p[2], ...
template <class V>
[[gnu::always_inline]] inline void StoreEvery2(float* p, V v) {
  if constexpr (std::is_same_v<V, float>)
    *p = v;
  else
    for (int l = 0; l < LaneCount<V>; ++l) p[2 * l] = v[l];
}

// The floats that widen to D: a float for one site, four for a TVec4d.
template <class D>
using FloatLanes = std::conditional_t<std::is_arithmetic_v<D>, float, TVec4f>;

template <class D>
[[gnu::always_inline]] inline D Widen(FloatLanes<D> v) {
  if constexpr (std::is_arithmetic_v<D>)
    return double(v);
  else
    return __builtin_convertvector(v, D);
}

// Every2, Every2Alone and LoadLanes (four consecutive values) widened to doubles.
template <class D>
[[gnu::always_inline]] inline D Every2Wide(const float* p) {
  return Widen<D>(Every2<FloatLanes<D>>(p));
}
template <class D>
[[gnu::always_inline]] inline D Every2AloneWide(const float* p) {
  return Widen<D>(Every2Alone<FloatLanes<D>>(p));
}
template <class D>
[[gnu::always_inline]] inline D NextWide(const float* p) {
  return Widen<D>(LoadLanes<FloatLanes<D>>(p));
}

// The lanes of doubles to p[0], p[step], ... as floats.
template <class D>
[[gnu::always_inline]] inline void StoreNarrowed(float* p, ptrdiff_t step, D v) {
  if constexpr (std::is_arithmetic_v<D>)
    *p = float(v);
  else
    for (int l = 0; l < LaneCount<D>; ++l) p[l * step] = float(v[l]);
}

// A comparison's result: bool for one site, a lane mask for vectors.
template <class D>
using MaskOf = decltype(std::declval<D>() < std::declval<D>());

template <class D>
[[gnu::always_inline]] inline bool AnyLane(MaskOf<D> m) {
  if constexpr (std::is_arithmetic_v<D>) {
    return m;
  } else {
    auto any = m[0];
    for (int l = 1; l < LaneCount<D>; ++l) any |= m[l];
    return any != 0;
  }
}

// The mask of lanes whose flag is set (flags[0] for one site).
template <class D>
[[gnu::always_inline]] inline MaskOf<D> LaneMask(const bool* flags) {
  if constexpr (std::is_arithmetic_v<D>) {
    return flags[0];
  } else {
    MaskOf<D> m{};
    for (int l = 0; l < LaneCount<D>; ++l) m[l] = flags[l] ? -1 : 0;
    return m;
  }
}

// std::nearbyint of values that are not negative (or NaN) in the default
// rounding mode: below 2^52 adding and taking away 2^52 rounds to a whole
// number, halves to even; larger values are whole already.
template <class D>
[[gnu::always_inline]] inline D RoundHalfEven(D v) {
  if constexpr (std::is_arithmetic_v<D>) {
    return std::nearbyint(v);
  } else {
    const D big = Splat<D>(4503599627370496.0);
    const D r = (v + big) - big;
    return v < big ? r : v;
  }
}

}  // namespace astrelon::simd

#pragma GCC diagnostic pop
