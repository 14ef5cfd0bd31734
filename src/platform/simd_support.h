#pragma once
// Shared pieces of the scalar and vector loops: the SSE2 intrinsics when the
// compiler targets them, AVX2 loops compiled for processors that have it, the
// rectangle check and the fixed lane order of double sums that makes every path
// add in the same order.
#include <array>
#include <cstdint>
#include <stdexcept>

#include "platform/processor_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define ASTRELON_HAVE_SSE2 1
#else
#define ASTRELON_HAVE_SSE2 0
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ASTRELON_HAVE_AVX2 1
#define ASTRELON_AVX2 __attribute__((target("avx2,popcnt")))
#else
#define ASTRELON_HAVE_AVX2 0
#endif

namespace astrelon {

// Throws when a view of `size` values cannot hold a w x h rectangle of that stride.
inline void CheckRect(size_t size, int32_t w, int32_t h, int64_t stride) {
  if (w <= 0 || h <= 0) return;
  if (stride < w) throw std::invalid_argument("rectangle row stride below its width");
  const uint64_t need = uint64_t(h - 1) * uint64_t(stride) + uint64_t(w);
  if (need > size) throw std::invalid_argument("rectangle reaches beyond its buffer");
}

// Whether the processor runs AVX2 (and POPCNT) code.
inline bool CpuHasAvx2() {
#if ASTRELON_HAVE_AVX2
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  }();
  return has;
#else
  return false;
#endif
}

#if ASTRELON_HAVE_AVX2
// The smallest and the largest of eight floats.
ASTRELON_AVX2 inline float HorizontalMin8(__m256 v) {
  __m128 m = _mm_min_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  m = _mm_min_ps(m, _mm_movehl_ps(m, m));
  m = _mm_min_ss(m, _mm_shuffle_ps(m, m, 1));
  return _mm_cvtss_f32(m);
}
ASTRELON_AVX2 inline float HorizontalMax8(__m256 v) {
  __m128 m = _mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  m = _mm_max_ps(m, _mm_movehl_ps(m, m));
  m = _mm_max_ss(m, _mm_shuffle_ps(m, m, 1));
  return _mm_cvtss_f32(m);
}
#endif

// The vector path takes the eight-wide loops when allowed and available.
inline bool UseAvx2(bool vector) { return vector && Avx2Enabled && CpuHasAvx2(); }

#if ASTRELON_HAVE_AVX2
// Loops over sixteen floats or eight doubles, compiled for processors with AVX-512.
// AVX-512 brings fused multiply-add, which the compiler would otherwise put in
// place of a multiplication and an addition (one rounding instead of two): the
// loops must round as their scalar twins do.
#define ASTRELON_AVX512 \
  __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2,popcnt"), optimize("fp-contract=off")))
#endif

// Whether the processor runs AVX-512 code (foundation, vector length, byte and
// word, double and quad word) besides AVX2.
inline bool CpuRunsAvx512() {
#if ASTRELON_HAVE_AVX2
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") && CpuHasAvx2();
  }();
  return has;
#else
  return false;
#endif
}

// The vector path takes the AVX-512 loops where the AVX2 loops are allowed and
// the processor has them (their results are the same).
inline bool UseAvx512(bool vector) { return UseAvx2(vector) && CpuRunsAvx512(); }

// Sums in double run in sixteen lanes: element i of a run (or of a row) goes to
// lane i mod 16, and the lanes are added in a fixed tree at the end. The scalar
// and the vector paths all follow this order, so their sums agree to the last bit.
constexpr int SumLaneCount = 16;
using TSumLanes = std::array<double, SumLaneCount>;

inline double ReduceSumLanes(const TSumLanes& a) {
  const double q0 = (a[0] + a[1]) + (a[2] + a[3]);
  const double q1 = (a[4] + a[5]) + (a[6] + a[7]);
  const double q2 = (a[8] + a[9]) + (a[10] + a[11]);
  const double q3 = (a[12] + a[13]) + (a[14] + a[15]);
  return (q0 + q1) + (q2 + q3);
}

// Indices that move the set lanes of an 8-bit mask to the front, in order.
struct TCompactTable {
  alignas(32) std::array<std::array<int32_t, 8>, 256> Index{};
  constexpr TCompactTable() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int i = 0; i < 8; ++i)
        if (m & (1 << i)) Index[size_t(m)][size_t(n++)] = i;
    }
  }
};
inline constexpr TCompactTable CompactTable{};

}  // namespace astrelon
