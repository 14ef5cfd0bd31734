#pragma once
// L doubles side by side (GCC vector types; a plain double for L = 1), with
// floats widened into them, for loops whose scalar twin is the same template
// with one lane; the generic helpers of platform/vector_lanes.h serve them
// too. Only additions, comparisons and selections: no product that a
// compiler could fuse with a sum.
//
// Write every selection on a single comparison (no masks combined with & or
// nested selections) and the steps as functions, not lambdas: GCC lowers
// those for the default processor before it inlines a step into a loop
// compiled for AVX-512, which leaves one lane at a time.
#include <cstring>
#include <limits>
#include <utility>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::lanes {

template <int L>
struct TLanes {
  typedef double D __attribute__((vector_size(8 * L)));
  typedef float F __attribute__((vector_size(4 * L)));
};
template <>
struct TLanes<1> {
  using D = double;
  using F = float;
};
// L doubles, L floats.
template <int L>
using D = typename TLanes<L>::D;
template <int L>
using F = typename TLanes<L>::F;

// L floats widened to doubles.
template <int L>
[[gnu::always_inline]] inline D<L> Widen(const float* p) {
  if constexpr (L == 1)
    return double(*p);
  else
    return __builtin_convertvector(simd::LoadLanes<F<L>>(p), D<L>);
}
// Lanes Offset .. Offset + L − 1 of 2L floats, widened to doubles.
template <int L, int Offset, size_t... I>
[[gnu::always_inline]] inline D<L> WidenPart(F<2 * L> v, std::index_sequence<I...>) {
  return __builtin_convertvector(__builtin_shufflevector(v, v, (Offset + int(I))...), D<L>);
}
template <int L, int Offset>
[[gnu::always_inline]] inline D<L> WidenPart(F<2 * L> v) {
  return WidenPart<L, Offset>(v, std::make_index_sequence<L>{});
}
// 0, 1, .., L − 1.
template <int L>
[[gnu::always_inline]] inline D<L> Iota() {
  if constexpr (L == 1) {
    return 0.0;
  } else {
    D<L> v;
    for (int l = 0; l < L; ++l) v[l] = l;
    return v;
  }
}
template <class V>
[[gnu::always_inline]] inline simd::Lane<V> Lane(V v, int l) {
  if constexpr (simd::LaneCount<V> == 1)
    return v;
  else
    return v[l];
}
// The largest lane.
template <class V>
[[gnu::always_inline]] inline simd::Lane<V> MaxOfLanes(V v) {
  simd::Lane<V> m = Lane(v, 0);
  for (int l = 1; l < simd::LaneCount<V>; ++l) m = Lane(v, l) > m ? Lane(v, l) : m;
  return m;
}

constexpr double Infinity = std::numeric_limits<double>::infinity();

// The kernels of one routine for 1, 2, 4 and 8 double lanes: M(Name, attribute,
// lanes) defines the kernel of each tier, ChooseTier picks the one to run.
#if ASTRELON_HAVE_AVX2
#define ASTRELON_DOUBLE_LANE_TIERS(M) \
  M(Scalar, , 1) M(Sse2, , 2) M(Avx2, ASTRELON_AVX2, 4) M(Avx512, ASTRELON_AVX512, 8)
#define ASTRELON_TIER_KERNELS(Name) Name##Scalar, Name##Sse2, Name##Avx2, Name##Avx512
#else
#define ASTRELON_DOUBLE_LANE_TIERS(M) M(Scalar, , 1) M(Sse2, , 2)
#define ASTRELON_TIER_KERNELS(Name) Name##Scalar, Name##Sse2, Name##Sse2, Name##Sse2
#endif
template <class F>
F ChooseTier(bool vector, F scalar, F sse2, F avx2, F avx512) {
  if (UseAvx512(vector)) return avx512;
  if (UseAvx2(vector)) return avx2;
  return vector ? sse2 : scalar;
}

}  // namespace astrelon::lanes

#pragma GCC diagnostic pop
