#pragma once
// Square transposes of vector registers for the AVX2 and AVX-512 loops: row i
// of the input (register i) becomes column i of the output (lane i of every
// register). Only data moves, so results never depend on them.
#include "platform/simd_support.h"

#if ASTRELON_HAVE_AVX2
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace astrelon {

// Eight registers of eight doubles.
ASTRELON_AVX512 inline void TransposeDoubles8(__m512d r[8]) {
  __m512d t[8], u[8];
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm512_unpacklo_pd(r[2 * i], r[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_pd(r[2 * i], r[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i) {
    u[4 * i] = _mm512_shuffle_f64x2(t[4 * i], t[4 * i + 2], 0x88);
    u[4 * i + 1] = _mm512_shuffle_f64x2(t[4 * i], t[4 * i + 2], 0xdd);
    u[4 * i + 2] = _mm512_shuffle_f64x2(t[4 * i + 1], t[4 * i + 3], 0x88);
    u[4 * i + 3] = _mm512_shuffle_f64x2(t[4 * i + 1], t[4 * i + 3], 0xdd);
  }
  r[0] = _mm512_shuffle_f64x2(u[0], u[4], 0x88);
  r[4] = _mm512_shuffle_f64x2(u[0], u[4], 0xdd);
  r[2] = _mm512_shuffle_f64x2(u[1], u[5], 0x88);
  r[6] = _mm512_shuffle_f64x2(u[1], u[5], 0xdd);
  r[1] = _mm512_shuffle_f64x2(u[2], u[6], 0x88);
  r[5] = _mm512_shuffle_f64x2(u[2], u[6], 0xdd);
  r[3] = _mm512_shuffle_f64x2(u[3], u[7], 0x88);
  r[7] = _mm512_shuffle_f64x2(u[3], u[7], 0xdd);
}

// Eight registers of eight floats.
ASTRELON_AVX2 inline void TransposeFloats8(__m256 v[8]) {
  __m256 t[8], u[8];
  for (int i = 0; i < 4; ++i) {
    t[2 * i] = _mm256_unpacklo_ps(v[2 * i], v[2 * i + 1]);
    t[2 * i + 1] = _mm256_unpackhi_ps(v[2 * i], v[2 * i + 1]);
  }
  for (int i = 0; i < 2; ++i) {
    u[4 * i] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0x44);
    u[4 * i + 1] = _mm256_shuffle_ps(t[4 * i], t[4 * i + 2], 0xee);
    u[4 * i + 2] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0x44);
    u[4 * i + 3] = _mm256_shuffle_ps(t[4 * i + 1], t[4 * i + 3], 0xee);
  }
  for (int j = 0; j < 4; ++j) {
    v[j] = _mm256_permute2f128_ps(u[j], u[4 + j], 0x20);
    v[4 + j] = _mm256_permute2f128_ps(u[j], u[4 + j], 0x31);
  }
}

// Sixteen registers of sixteen floats.
ASTRELON_AVX512 inline void TransposeFloats16(__m512 v[16]) {
  __m512 t[16], u[16];
  for (int i = 0; i < 8; ++i) {
    t[2 * i] = _mm512_unpacklo_ps(v[2 * i], v[2 * i + 1]);
    t[2 * i + 1] = _mm512_unpackhi_ps(v[2 * i], v[2 * i + 1]);
  }
  for (int i = 0; i < 4; ++i) {
    const __m512d a = _mm512_castps_pd(t[4 * i]), b = _mm512_castps_pd(t[4 * i + 1]);
    const __m512d c = _mm512_castps_pd(t[4 * i + 2]), d = _mm512_castps_pd(t[4 * i + 3]);
    u[4 * i] = _mm512_castpd_ps(_mm512_unpacklo_pd(a, c));
    u[4 * i + 1] = _mm512_castpd_ps(_mm512_unpackhi_pd(a, c));
    u[4 * i + 2] = _mm512_castpd_ps(_mm512_unpacklo_pd(b, d));
    u[4 * i + 3] = _mm512_castpd_ps(_mm512_unpackhi_pd(b, d));
  }
  // u[4i + j] holds, in its 128-bit block k, rows 4i .. 4i + 3 of column 4k + j.
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 4; ++j) {
      t[8 * i + j] = _mm512_shuffle_f32x4(u[8 * i + j], u[8 * i + 4 + j], 0x88);
      t[8 * i + 4 + j] = _mm512_shuffle_f32x4(u[8 * i + j], u[8 * i + 4 + j], 0xdd);
    }
  for (int j = 0; j < 8; ++j) {
    v[j] = _mm512_shuffle_f32x4(t[j], t[8 + j], 0x88);
    v[8 + j] = _mm512_shuffle_f32x4(t[j], t[8 + j], 0xdd);
  }
}

}  // namespace astrelon

#pragma GCC diagnostic pop
#endif
