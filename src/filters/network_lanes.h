#pragma once
// The loops of the network's forward pass and training step, written once for
// a vector type V: a plain float (one lane), four SSE lanes or eight AVX2
// lanes. Every lane runs its own column and adds its terms in the order of the
// rows, so all widths give the same sums to the last bit.
#include <cstddef>
#include <cstdint>

#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::network_lanes {

using namespace simd;

// s[c] = sum over r of a[r] * m[r * stride + c], r = 0, 1, ... rows - 1 in this
// order, for c in [0, columns); columns is a multiple of the lane count.
template <class V>
[[gnu::always_inline]] inline void ColumnSums(const float* m, size_t stride, const float* a, int32_t rows,
                                             int32_t columns, float* s) {
  constexpr int32_t L = LaneCount<V>;
  int32_t c = 0;
  for (; c + 4 * L <= columns; c += 4 * L) {
    V s0 = Splat<V>(0.0f), s1 = s0, s2 = s0, s3 = s0;
    const float* p = m + c;
    for (int32_t r = 0; r < rows; ++r, p += stride) {
      const V ar = Splat<V>(a[r]);
      s0 += ar * LoadLanes<V>(p);
      s1 += ar * LoadLanes<V>(p + L);
      s2 += ar * LoadLanes<V>(p + 2 * L);
      s3 += ar * LoadLanes<V>(p + 3 * L);
    }
    StoreLanes(s + c, s0);
    StoreLanes(s + c + L, s1);
    StoreLanes(s + c + 2 * L, s2);
    StoreLanes(s + c + 3 * L, s3);
  }
  for (; c < columns; c += L) {
    V s0 = Splat<V>(0.0f);
    const float* p = m + c;
    for (int32_t r = 0; r < rows; ++r, p += stride) s0 += Splat<V>(a[r]) * LoadLanes<V>(p);
    StoreLanes(s + c, s0);
  }
}

// A weight step limited to [-1, 1] (a NaN stays NaN, as std::clamp leaves it).
template <class V>
[[gnu::always_inline]] inline V ClampStep(V v) {
  if constexpr (LaneCount<V> == 1) {
    return v < -1.0f ? -1.0f : (1.0f < v ? 1.0f : v);
  } else {
    const V lo = Splat<V>(-1.0f), hi = Splat<V>(1.0f);
    return v < lo ? lo : (hi < v ? hi : v);
  }
}

// to[c] += clamp(f[c] * a) for c in [0, count).
template <class V>
[[gnu::always_inline]] inline void AddClampedSteps(float* to, const float* f, float a, int32_t count) {
  constexpr int32_t L = LaneCount<V>;
  int32_t c = 0;
  if constexpr (L > 1) {
    const V av = Splat<V>(a);
    for (; c + L <= count; c += L) StoreLanes(to + c, LoadLanes<V>(to + c) + ClampStep(LoadLanes<V>(f + c) * av));
  }
  for (; c < count; ++c) to[c] += ClampStep(f[c] * a);
}

}  // namespace astrelon::network_lanes

#pragma GCC diagnostic pop
