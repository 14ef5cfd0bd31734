#pragma once
// The loops of the network's forward pass and training step, written once for
// a vector type V: a plain float (one lane), four SSE lanes or eight AVX2
// lanes. Every lane runs its own column and adds its terms in the order of the
// rows, so all widths give the same sums to the last bit.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::network_lanes {

using namespace simd;

// value in every lane (a signed zero stays as it is).
template <class V>
[[gnu::always_inline]] inline V Broadcast(float value) {
  if constexpr (LaneCount<V> == 1) {
    return value;
  } else {
    // Lane 0 copied into every lane: one broadcast instruction.
#if defined(__clang__)
    if constexpr (LaneCount<V> == 4)
      return __builtin_shufflevector(V{value}, V{value}, 0, 0, 0, 0);
    else
      return __builtin_shufflevector(V{value}, V{value}, 0, 0, 0, 0, 0, 0, 0, 0);
#else
    return __builtin_shuffle(V{value}, decltype(V{} < V{}){});
#endif
  }
}

// K blocks of V columns from column 0: s[c] = sum over r of a[r] * m[r *
// stride + c], r = 0, 1, ... rows - 1 in this order.
template <class V, int K>
[[gnu::always_inline]] inline void ColumnBlocks(const float* m, size_t stride, const float* a, int32_t rows,
                                               float* s) {
  constexpr int32_t L = LaneCount<V>;
  V acc[K];
#pragma GCC unroll 6
  for (int k = 0; k < K; ++k) acc[k] = Broadcast<V>(0.0f);
  for (int32_t r = 0; r < rows; ++r, m += stride) {
    const V ar = Broadcast<V>(a[r]);
#pragma GCC unroll 6
    for (int k = 0; k < K; ++k) acc[k] += ar * LoadLanes<V>(m + k * L);
  }
#pragma GCC unroll 6
  for (int k = 0; k < K; ++k) StoreLanes(s + k * L, acc[k]);
}

// s[c] = sum over r of a[r] * m[r * stride + c], r = 0, 1, ... rows - 1 in this
// order, for c in [0, columns); columns is a multiple of the lane count. Up to
// six blocks of columns share one pass over the rows.
template <class V>
[[gnu::always_inline]] inline void ColumnSums(const float* m, size_t stride, const float* a, int32_t rows,
                                             int32_t columns, float* s) {
  constexpr int32_t L = LaneCount<V>;
  for (int32_t c = 0; c < columns;) {
    const int32_t blocks = (columns - c) / L;
    // Seven blocks go as four and three rather than six and one.
    const int32_t k = blocks == 7 ? 4 : std::min(blocks, 6);
    switch (k) {
      case 6: ColumnBlocks<V, 6>(m + c, stride, a, rows, s + c); break;
      case 5: ColumnBlocks<V, 5>(m + c, stride, a, rows, s + c); break;
      case 4: ColumnBlocks<V, 4>(m + c, stride, a, rows, s + c); break;
      case 3: ColumnBlocks<V, 3>(m + c, stride, a, rows, s + c); break;
      case 2: ColumnBlocks<V, 2>(m + c, stride, a, rows, s + c); break;
      default: ColumnBlocks<V, 1>(m + c, stride, a, rows, s + c); break;
    }
    c += k * L;
  }
}

// A weight step limited to [-1, 1] (a NaN stays NaN, as std::clamp leaves it).
template <class V>
[[gnu::always_inline]] inline V ClampStep(V v) {
  if constexpr (LaneCount<V> == 1) {
    return v < -1.0f ? -1.0f : (1.0f < v ? 1.0f : v);
  } else {
    const V lo = Broadcast<V>(-1.0f), hi = Broadcast<V>(1.0f);
    return v < lo ? lo : (hi < v ? hi : v);
  }
}

// to[c] += clamp(f[c] * a) for c in [0, count).
template <class V>
[[gnu::always_inline]] inline void AddClampedSteps(float* to, const float* f, float a, int32_t count) {
  constexpr int32_t L = LaneCount<V>;
  int32_t c = 0;
  if constexpr (L > 1) {
    const V av = Broadcast<V>(a);
    for (; c + L <= count; c += L) StoreLanes(to + c, LoadLanes<V>(to + c) + ClampStep(LoadLanes<V>(f + c) * av));
  }
  for (; c < count; ++c) to[c] += ClampStep(f[c] * a);
}

}  // namespace astrelon::network_lanes

#pragma GCC diagnostic pop
