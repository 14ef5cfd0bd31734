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

// Sideways offset m(s) = floor((2 s P + Q − 1) / 2Q) of a step and the
// remainder, moved on by steps of the same length.
struct TOffset {
  int64_t M, R;
  void Advance(int64_t whole, int64_t rest, int64_t twoQ) {
    M += whole;
    R += rest;
    if (R >= twoQ) {
      R -= twoQ;
      ++M;
    }
  }
};

// Eight steps at a time: the values of the steps at each sideways offset lie
// one after the other (along the main direction), so each offset met is one
// masked load of eight, its lanes those steps.
ASTRELON_AVX2 void GatherStretch(const TLineStretch& t, uint32_t p, uint32_t q, TGathered& g) {
  if (t.To < t.From) return;
  const int64_t twoQ = 2 * int64_t(q), twoP = 2 * int64_t(p);
  const auto offset = [&](int64_t s) {
    const uint64_t n = uint64_t(twoP) * uint64_t(s) + q - 1;
    return TOffset{int64_t(n / uint64_t(twoQ)), int64_t(n % uint64_t(twoQ))};
  };
  TOffset first = offset(t.From);
  // Eight steps meet at most this many offsets (a fixed count: no branch
  // that depends on the data).
  const int64_t meets = 7 * int64_t(p) / int64_t(q) + 2;
  // Lane j: the offset and remainder of step From + j (each step adds 2P to
  // the remainder, P <= Q: at most one sideways move a step).
  alignas(32) int32_t remainder[8], sideways[8];
  TOffset lane = first;
  for (int j = 0; j < 8; ++j) {
    remainder[j] = int32_t(lane.R);
    sideways[j] = int32_t(lane.M);
    lane.Advance(0, twoP, twoQ);
  }
  const int64_t whole8 = 8 * twoP / twoQ, rest8 = 8 * twoP % twoQ;
  const __m256i rest = _mm256_set1_epi32(int32_t(rest8)), wrap = _mm256_set1_epi32(int32_t(twoQ));
  const __m256i below = _mm256_set1_epi32(int32_t(twoQ - 1)), whole = _mm256_set1_epi32(int32_t(whole8));
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0), lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i rem = _mm256_load_si256(reinterpret_cast<const __m256i*>(remainder));
  __m256i m = _mm256_load_si256(reinterpret_cast<const __m256i*>(sideways));
  const bool forward = t.Along > 0;
  for (int32_t s = t.From; s <= t.To; s += 8) {
    // Steps past the end never match an offset.
    const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(t.To - s + 1), lanes);
    __m256i key = _mm256_or_si256(_mm256_and_si256(valid, m), _mm256_andnot_si256(valid, _mm256_set1_epi32(-1)));
    // Backward, lane j of a load holds step s + 7 − j.
    if (!forward) key = _mm256_permutevar8x32_epi32(key, reverse);
    const float* at = t.Base + (forward ? int64_t(s) : -(int64_t(s) + 7));
    __m256 v = _mm256_setzero_ps();
    for (int64_t k = first.M; k < first.M + meets; ++k) {
      const __m256i mask = _mm256_cmpeq_epi32(key, _mm256_set1_epi32(int32_t(k)));
      v = _mm256_or_ps(v, _mm256_maskload_ps(at + k * t.Side, mask));
    }
    Add(g, v);
    rem = _mm256_add_epi32(rem, rest);
    const __m256i carry = _mm256_cmpgt_epi32(rem, below);
    rem = _mm256_sub_epi32(rem, _mm256_and_si256(carry, wrap));
    m = _mm256_sub_epi32(_mm256_add_epi32(m, whole), carry);
    first.Advance(whole8, rest8, twoQ);
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
