#include "frequency/interference/gathered_line_sum.h"

#include <algorithm>
#include <cmath>

#include "platform/simd_support.h"

namespace astrelon {

namespace {

#if ASTRELON_HAVE_AVX2
// Running sums of the gathered values in eight double lanes and the smallest
// bit pattern minus one of the values (non-negative floats order as their
// bits; a zero becomes the largest and so never the smallest).
struct TGathered {
  __m256d Low, High;
  __m256i Least;
};

ASTRELON_AVX2 inline void Add(TGathered& g, __m256 v) {
  g.Low = _mm256_add_pd(g.Low, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
  g.High = _mm256_add_pd(g.High, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
  g.Least = _mm256_min_epu32(g.Least, _mm256_sub_epi32(_mm256_castps_si256(v), _mm256_set1_epi32(1)));
}

ASTRELON_AVX2 void GatherStretch(const TLineStretch& t, uint32_t p, uint32_t q, TGathered& g) {
  if (t.To < t.From) return;
  // Lane j starts at step From + j: its remainder (2 s P + Q − 1) mod 2Q and
  // its offset; each step adds 2P to the remainder, one sideways step for
  // every 2Q it reaches (P <= Q: at most one a step).
  const int64_t twoQ = 2 * int64_t(q), twoP = 2 * int64_t(p);
  const uint64_t first = uint64_t(twoP) * uint64_t(t.From) + q - 1;
  int64_t m = int64_t(first / uint64_t(twoQ)), r = int64_t(first % uint64_t(twoQ));
  alignas(32) int32_t remainder[8], offset[8];
  for (int j = 0; j < 8; ++j) {
    remainder[j] = int32_t(r);
    offset[j] = int32_t((int64_t(t.From) + j) * t.Along + m * t.Side);
    r += twoP;
    if (r >= twoQ) {
      r -= twoQ;
      ++m;
    }
  }
  // Eight steps on: 16P more, whole sideways steps and the rest.
  const int64_t sideways8 = 8 * twoP / twoQ, rest8 = 8 * twoP % twoQ;
  const __m256i rest = _mm256_set1_epi32(int32_t(rest8)), wrap = _mm256_set1_epi32(int32_t(twoQ));
  const __m256i below = _mm256_set1_epi32(int32_t(twoQ - 1)), side = _mm256_set1_epi32(t.Side);
  const __m256i advance = _mm256_set1_epi32(int32_t(8 * int64_t(t.Along) + sideways8 * t.Side));
  __m256i rem = _mm256_load_si256(reinterpret_cast<const __m256i*>(remainder));
  __m256i at = _mm256_load_si256(reinterpret_cast<const __m256i*>(offset));
  int32_t s = t.From;
  for (; s + 7 <= t.To; s += 8) {
    Add(g, _mm256_i32gather_ps(t.Base, at, 4));
    rem = _mm256_add_epi32(rem, rest);
    const __m256i carry = _mm256_cmpgt_epi32(rem, below);
    rem = _mm256_sub_epi32(rem, _mm256_and_si256(carry, wrap));
    at = _mm256_add_epi32(_mm256_add_epi32(at, advance), _mm256_and_si256(carry, side));
  }
  if (s <= t.To) {
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(t.To - s + 1), lanes);
    Add(g, _mm256_mask_i32gather_ps(_mm256_setzero_ps(), t.Base, at, _mm256_castsi256_ps(mask), 4));
  }
}

ASTRELON_AVX2 bool GatheredLineSumAvx2(std::span<const TLineStretch> stretches, uint32_t p, uint32_t q,
                                       double& sum) {
  TGathered g{_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_set1_epi32(-1)};
  for (const TLineStretch& t : stretches) GatherStretch(t, p, q, g);
  alignas(32) double lanes[4];
  _mm256_store_pd(lanes, _mm256_add_pd(g.Low, g.High));
  sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  alignas(32) uint32_t least[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(least), g.Least);
  const uint32_t smallest = *std::min_element(least, least + 8);
  if (smallest == UINT32_MAX) return sum == 0;  // no non-zero value
  // The last place of the smallest non-zero value is 2^(e − 150) for the
  // biased exponent e (2^−149 below the normal range); the sum is exact
  // while it stays below 2^53 of those.
  const int exponent = int((smallest + 1) >> 23);
  return sum < std::ldexp(1.0, std::max(exponent, 1) - 97);
}
#endif

}  // namespace

bool GatheredLineSum(std::span<const TLineStretch> stretches, uint32_t p, uint32_t q, double& sum) {
#if ASTRELON_HAVE_AVX2
  if (CpuHasAvx2()) return GatheredLineSumAvx2(stretches, p, q, sum);
#endif
  (void)stretches;
  (void)p;
  (void)q;
  sum = 0;
  return false;
}

}  // namespace astrelon
