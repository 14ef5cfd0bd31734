#include "store/pair_differences.h"

#include <algorithm>
#include <stdexcept>

#include "store/image_slot.h"
#include "store/simd_support.h"

namespace astrelon {

namespace {

// Adds pairs first..pairs-1 one by one into the lanes.
template <bool Clip>
void AddPairsScalar(const float* v, int64_t first, int64_t pairs, int gap, float limit, TSumLanes& acc,
                    int64_t& count) {
  for (int64_t k = first; k < pairs; ++k) {
    const float a = v[k * gap];
    const float b = v[k * gap + gap];
    const float d = a - b;
    const float d2 = d * d;
    bool ok = IsValidPixel(a) && IsValidPixel(b);
    if constexpr (Clip) ok = ok && d2 < limit;
    acc[size_t(k % SumLaneCount)] += ok ? double(d2) : 0.0;
    count += ok;
  }
}

#if ASTRELON_HAVE_SSE2
// Pairs 0..done-1 in blocks of eight; returns done.
template <bool Clip, int Gap>
int64_t AddPairsSse2(const float* v, size_t size, int64_t pairs, float limit, TSumLanes& acc, int64_t& count) {
  const __m128 blank = _mm_set1_ps(BlankLimit);
  const __m128 lim = _mm_set1_ps(limit);
  __m128d s0 = _mm_setzero_pd(), s1 = s0, s2 = s0, s3 = s0;
  // Blocks whose loads stay inside the run (the gap-2 loads read one value past the last pair).
  int64_t blocks = pairs / 8;
  const int64_t readEnd = Gap == 1 ? 9 : 18;
  while (blocks > 0 && uint64_t((blocks - 1) * 8 * Gap + readEnd) > size) --blocks;
  const int64_t done = blocks * 8;
  int64_t k = 0;
  while (k < done) {
    const int64_t chunkEnd = std::min(done, k + (int64_t(1) << 28));
    __m128i cnt = _mm_setzero_si128();
    for (; k < chunkEnd; k += 8) {
      const float* p = v + k * Gap;
      __m128 a0, a1, b0, b1;
      if constexpr (Gap == 1) {
        a0 = _mm_loadu_ps(p);
        b0 = _mm_loadu_ps(p + 1);
        a1 = _mm_loadu_ps(p + 4);
        b1 = _mm_loadu_ps(p + 5);
      } else {
        constexpr int even = _MM_SHUFFLE(2, 0, 2, 0);
        a0 = _mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 4), even);
        b0 = _mm_shuffle_ps(_mm_loadu_ps(p + 2), _mm_loadu_ps(p + 6), even);
        a1 = _mm_shuffle_ps(_mm_loadu_ps(p + 8), _mm_loadu_ps(p + 12), even);
        b1 = _mm_shuffle_ps(_mm_loadu_ps(p + 10), _mm_loadu_ps(p + 14), even);
      }
      const __m128 d0 = _mm_sub_ps(a0, b0);
      const __m128 d1 = _mm_sub_ps(a1, b1);
      __m128 q0 = _mm_mul_ps(d0, d0);
      __m128 q1 = _mm_mul_ps(d1, d1);
      __m128 ok0 = _mm_and_ps(_mm_cmpgt_ps(a0, blank), _mm_cmpgt_ps(b0, blank));
      __m128 ok1 = _mm_and_ps(_mm_cmpgt_ps(a1, blank), _mm_cmpgt_ps(b1, blank));
      if constexpr (Clip) {
        ok0 = _mm_and_ps(ok0, _mm_cmplt_ps(q0, lim));
        ok1 = _mm_and_ps(ok1, _mm_cmplt_ps(q1, lim));
      }
      q0 = _mm_and_ps(ok0, q0);
      q1 = _mm_and_ps(ok1, q1);
      s0 = _mm_add_pd(s0, _mm_cvtps_pd(q0));
      s1 = _mm_add_pd(s1, _mm_cvtps_pd(_mm_movehl_ps(q0, q0)));
      s2 = _mm_add_pd(s2, _mm_cvtps_pd(q1));
      s3 = _mm_add_pd(s3, _mm_cvtps_pd(_mm_movehl_ps(q1, q1)));
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(ok0));
      cnt = _mm_sub_epi32(cnt, _mm_castps_si128(ok1));
    }
    alignas(16) int32_t c[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(c), cnt);
    count += int64_t(c[0]) + c[1] + c[2] + c[3];
  }
  _mm_storeu_pd(&acc[0], s0);
  _mm_storeu_pd(&acc[2], s1);
  _mm_storeu_pd(&acc[4], s2);
  _mm_storeu_pd(&acc[6], s3);
  return done;
}
#endif

}  // namespace

TPairSums SumSquaredDifferences(std::span<const float> v, int64_t pairs, int gap, bool clip, float limit,
                                bool vector) {
  if (gap != 1 && gap != 2) throw std::invalid_argument("pair gap must be 1 or 2");
  TPairSums result;
  if (pairs <= 0) return result;
  if (uint64_t(pairs) * uint64_t(gap) >= v.size()) throw std::invalid_argument("pairs reach beyond the run");
  TSumLanes acc{};
  int64_t first = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    if (gap == 1)
      first = clip ? AddPairsSse2<true, 1>(v.data(), v.size(), pairs, limit, acc, result.Count)
                   : AddPairsSse2<false, 1>(v.data(), v.size(), pairs, limit, acc, result.Count);
    else
      first = clip ? AddPairsSse2<true, 2>(v.data(), v.size(), pairs, limit, acc, result.Count)
                   : AddPairsSse2<false, 2>(v.data(), v.size(), pairs, limit, acc, result.Count);
  }
#endif
  if (clip)
    AddPairsScalar<true>(v.data(), first, pairs, gap, limit, acc, result.Count);
  else
    AddPairsScalar<false>(v.data(), first, pairs, gap, limit, acc, result.Count);
  result.Sum = ReduceSumLanes(acc);
  return result;
}

}  // namespace astrelon
