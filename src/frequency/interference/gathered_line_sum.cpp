#include "frequency/interference/gathered_line_sum.h"

#include <algorithm>
#include <cmath>

#include "platform/simd_support.h"

namespace astrelon {

namespace {

#if ASTRELON_HAVE_AVX2
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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

// A stretch walked `Lanes` steps at a time: the offsets and remainders of the
// first block's steps (each step adds 2P to the remainder, P <= Q: at most one
// sideways move a step), what a block adds to them, and how many offsets a
// block meets at most (a fixed count: no branch that depends on the data).
template <int Lanes>
struct TBlocks {
  alignas(64) int32_t Remainder[Lanes], Sideways[Lanes];
  int64_t TwoQ, Whole, Rest, Meets;
  TOffset First;

  TBlocks(const TLineStretch& t, uint32_t p, uint32_t q) {
    TwoQ = 2 * int64_t(q);
    const int64_t twoP = 2 * int64_t(p);
    const uint64_t n = uint64_t(twoP) * uint64_t(t.From) + q - 1;
    First = {int64_t(n / uint64_t(TwoQ)), int64_t(n % uint64_t(TwoQ))};
    TOffset lane = First;
    for (int j = 0; j < Lanes; ++j) {
      Remainder[j] = int32_t(lane.R);
      Sideways[j] = int32_t(lane.M);
      lane.Advance(0, twoP, TwoQ);
    }
    Whole = Lanes * twoP / TwoQ;
    Rest = Lanes * twoP % TwoQ;
    Meets = (Lanes - 1) * int64_t(p) / int64_t(q) + 2;
  }
};

// Running sums of the values in eight double lanes and the smallest bit
// pattern minus one of the values (non-negative floats order as their bits; a
// zero becomes the largest and so never the smallest).
struct TGathered {
  __m256d Low, High;
  __m256i Least;
};

ASTRELON_AVX2 inline void Add(TGathered& g, __m256 v) {
  g.Low = _mm256_add_pd(g.Low, _mm256_cvtps_pd(_mm256_castps256_ps128(v)));
  g.High = _mm256_add_pd(g.High, _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)));
  g.Least = _mm256_min_epu32(g.Least, _mm256_sub_epi32(_mm256_castps_si256(v), _mm256_set1_epi32(1)));
}

// Eight steps at a time: the values of the steps at each sideways offset lie
// one after the other (along the main direction), so each offset met is one
// masked load of eight, its lanes those steps.
ASTRELON_AVX2 void GatherStretch(const TLineStretch& t, uint32_t p, uint32_t q, TGathered& g) {
  if (t.To < t.From) return;
  TBlocks<8> b(t, p, q);
  const __m256i rest = _mm256_set1_epi32(int32_t(b.Rest)), wrap = _mm256_set1_epi32(int32_t(b.TwoQ));
  const __m256i below = _mm256_set1_epi32(int32_t(b.TwoQ - 1)), whole = _mm256_set1_epi32(int32_t(b.Whole));
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0), lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i rem = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.Remainder));
  __m256i m = _mm256_load_si256(reinterpret_cast<const __m256i*>(b.Sideways));
  const bool forward = t.Along > 0;
  for (int32_t s = t.From; s <= t.To; s += 8) {
    // Steps past the end never match an offset.
    const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(t.To - s + 1), lanes);
    __m256i key = _mm256_or_si256(_mm256_and_si256(valid, m), _mm256_andnot_si256(valid, _mm256_set1_epi32(-1)));
    // Backward, lane j of a load holds step s + 7 − j.
    if (!forward) key = _mm256_permutevar8x32_epi32(key, reverse);
    const float* at = t.Base + (forward ? int64_t(s) : -(int64_t(s) + 7)) + b.First.M * t.Side;
    __m256i k = _mm256_set1_epi32(int32_t(b.First.M));
    __m256 v = _mm256_setzero_ps();
    for (int64_t j = 0; j < b.Meets; ++j, at += t.Side, k = _mm256_sub_epi32(k, _mm256_set1_epi32(-1)))
      v = _mm256_or_ps(v, _mm256_maskload_ps(at, _mm256_cmpeq_epi32(key, k)));
    Add(g, v);
    rem = _mm256_add_epi32(rem, rest);
    const __m256i carry = _mm256_cmpgt_epi32(rem, below);
    rem = _mm256_sub_epi32(rem, _mm256_and_si256(carry, wrap));
    m = _mm256_sub_epi32(_mm256_add_epi32(m, whole), carry);
    b.First.Advance(b.Whole, b.Rest, b.TwoQ);
  }
}

// The same sixteen steps at a time, each offset met one merging masked load.
ASTRELON_AVX512 void GatherStretch16(const TLineStretch& t, uint32_t p, uint32_t q, TGathered& g) {
  if (t.To < t.From) return;
  TBlocks<16> b(t, p, q);
  const __m512i rest = _mm512_set1_epi32(int32_t(b.Rest)), wrap = _mm512_set1_epi32(int32_t(b.TwoQ));
  const __m512i whole = _mm512_set1_epi32(int32_t(b.Whole)), none = _mm512_set1_epi32(-1), one = _mm512_set1_epi32(1);
  const __m512i reverse = _mm512_setr_epi32(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  __m512i rem = _mm512_load_si512(b.Remainder), m = _mm512_load_si512(b.Sideways);
  __m512d low = _mm512_setzero_pd(), high = _mm512_setzero_pd();
  __m512i least = _mm512_set1_epi32(-1);
  const bool forward = t.Along > 0;
  for (int32_t s = t.From; s <= t.To; s += 16) {
    // Steps past the end never match an offset.
    const int32_t left = t.To - s + 1;
    const __mmask16 valid = left >= 16 ? __mmask16(0xffff) : __mmask16((1u << left) - 1);
    __m512i key = _mm512_mask_mov_epi32(none, valid, m);
    // Backward, lane j of a load holds step s + 15 − j.
    if (!forward) key = _mm512_permutexvar_epi32(reverse, key);
    const float* at = t.Base + (forward ? int64_t(s) : -(int64_t(s) + 15)) + b.First.M * t.Side;
    __m512i k = _mm512_set1_epi32(int32_t(b.First.M));
    __m512 v = _mm512_setzero_ps();
    for (int64_t j = 0; j < b.Meets; ++j, at += t.Side, k = _mm512_add_epi32(k, one))
      v = _mm512_mask_loadu_ps(v, _mm512_cmpeq_epi32_mask(key, k), at);
    low = _mm512_add_pd(low, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
    high = _mm512_add_pd(high, _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(v), 1))));
    least = _mm512_min_epu32(least, _mm512_sub_epi32(_mm512_castps_si512(v), _mm512_set1_epi32(1)));
    rem = _mm512_add_epi32(rem, rest);
    const __mmask16 carry = _mm512_cmpge_epi32_mask(rem, wrap);
    rem = _mm512_mask_sub_epi32(rem, carry, rem, wrap);
    m = _mm512_mask_add_epi32(_mm512_add_epi32(m, whole), carry, _mm512_add_epi32(m, whole), one);
    b.First.Advance(b.Whole, b.Rest, b.TwoQ);
  }
  const __m512d both = _mm512_add_pd(low, high);
  g.Low = _mm256_add_pd(g.Low, _mm512_castpd512_pd256(both));
  g.High = _mm256_add_pd(g.High, _mm512_extractf64x4_pd(both, 1));
  g.Least = _mm256_min_epu32(g.Least, _mm256_min_epu32(_mm512_castsi512_si256(least),
                                                       _mm512_extracti64x4_epi64(least, 1)));
}

ASTRELON_AVX2 bool GatheredLineSumAvx2(std::span<const TLineStretch> stretches, uint32_t p, uint32_t q, bool wide,
                                       double& sum) {
  TGathered g{_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_set1_epi32(-1)};
  for (const TLineStretch& t : stretches)
    if (wide)
      GatherStretch16(t, p, q, g);
    else
      GatherStretch(t, p, q, g);
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
#pragma GCC diagnostic pop
#endif

}  // namespace

bool GatheredLineSum(std::span<const TLineStretch> stretches, uint32_t p, uint32_t q, double& sum, int lanes) {
#if ASTRELON_HAVE_AVX2
  if (CpuHasAvx2()) return GatheredLineSumAvx2(stretches, p, q, lanes >= 16 && CpuRunsAvx512(), sum);
#endif
  (void)stretches;
  (void)p;
  (void)q;
  (void)lanes;
  sum = 0;
  return false;
}

}  // namespace astrelon
