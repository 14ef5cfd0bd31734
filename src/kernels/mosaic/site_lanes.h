#pragma once
// Lanes over the sites of one column parity of a mosaic row (every second
// value), for the vector loops of the mosaic fills; a plain float or double
// stands for one site, so one loop body serves the scalar twin too.
#include <cmath>
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

}  // namespace astrelon::simd

#pragma GCC diagnostic pop
