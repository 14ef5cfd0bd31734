// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (the warning points into their header).
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "kernels/alignment/block_match_cost.h"

#include <algorithm>

#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/image_slot.h"

// The helpers below are always inlined, so the calling convention of 32-byte
// vectors outside AVX functions never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using simd::TVec8f;

// Sum of the lanes in a fixed order (the same on every processor).
[[gnu::always_inline]] inline float LaneSum(TVec8f v) {
  return ((v[0] + v[4]) + (v[1] + v[5])) + ((v[2] + v[6]) + (v[3] + v[7]));
}

// Valid pairs and the sum of their differences over one row: eight columns at
// a time in single precision, the rest one by one. (Selections on one
// comparison each, products apart from sums: GCC lowers combined masks of an
// inlined function for the default processor, and no sum may be fused.)
[[gnu::always_inline]] inline void RowFirstPass(const float* a, const float* b, int32_t w, double& n, double& s) {
  const TVec8f blank = simd::Splat<TVec8f>(BlankLimit);
  const TVec8f one = simd::Splat<TVec8f>(1.0f), zero{};
  TVec8f cnt{}, sum{};
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) {
    const TVec8f va = simd::LoadLanes<TVec8f>(a + x), vb = simd::LoadLanes<TVec8f>(b + x);
    const TVec8f okA = va > blank ? one : zero;
    const TVec8f ok = vb > blank ? okA : zero;
    cnt += ok;
    sum += ok != zero ? vb - va : zero;
  }
  float rc = LaneSum(cnt), rs = LaneSum(sum);
  for (; x < w; ++x)
    if (a[x] > BlankLimit && b[x] > BlankLimit) {
      rc += 1.0f;
      rs += b[x] - a[x];
    }
  n += rc;
  s += rs;
}

// Valid pairs, and the sums of their differences less k and of the squares of
// those, over R rows (rows `strideA` and `strideB` apart), each row's sums
// added to n, s and sq in turn. The rows run side by side (their sums do not
// wait on each other), each summed as it would be alone.
template <int R>
[[gnu::always_inline]] inline void RowMoments(const float* a, int64_t strideA, const float* b, int64_t strideB,
                                              int32_t w, float k, double& n, double& s, double& sq) {
  const TVec8f blank = simd::Splat<TVec8f>(BlankLimit), vk = simd::Splat<TVec8f>(k);
  const TVec8f one = simd::Splat<TVec8f>(1.0f), zero{};
  TVec8f cnt[R], sum[R], sum2[R];
  for (int r = 0; r < R; ++r) cnt[r] = sum[r] = sum2[r] = zero;
  int32_t x = 0;
  for (; x + 8 <= w; x += 8)
    for (int r = 0; r < R; ++r) {
      const TVec8f va = simd::LoadLanes<TVec8f>(a + r * strideA + x), vb = simd::LoadLanes<TVec8f>(b + r * strideB + x);
      const TVec8f okA = va > blank ? one : zero;
      const TVec8f ok = vb > blank ? okA : zero;
      const TVec8f e = ok != zero ? vb - va - vk : zero;
      const TVec8f e2 = e * e;
      cnt[r] += ok;
      sum[r] += e;
      sum2[r] += e2;
    }
  for (int r = 0; r < R; ++r) {
    const float *ra = a + r * strideA, *rb = b + r * strideB;
    float rc = LaneSum(cnt[r]), rs = LaneSum(sum[r]), rq = LaneSum(sum2[r]);
    for (int32_t i = x; i < w; ++i)
      if (ra[i] > BlankLimit && rb[i] > BlankLimit) {
        const float e = rb[i] - ra[i] - k;
        rc += 1.0f;
        rs += e;
        rq += e * e;
      }
    n += rc;
    s += rs;
    sq += rq;
  }
}

// One pass over the block: the differences are taken less the mean difference
// of the first row that has valid pairs, which keeps the sum of squares close
// to the variance (no cancellation for a brightness offset).
[[gnu::always_inline]] inline double VectorCost(const float* ref, int32_t w, int32_t h, const float* second,
                                                int64_t stride) {
  float k = 0;
  for (int32_t y = 0; y < h; ++y) {
    double n = 0, s = 0;
    RowFirstPass(ref + int64_t(y) * w, second + y * stride, w, n, s);
    if (n > 0) {
      k = float(s / n);
      break;
    }
  }
  double n = 0, s = 0, sq = 0;
  int32_t y = 0;
  for (; y + 4 <= h; y += 4) RowMoments<4>(ref + int64_t(y) * w, w, second + y * stride, stride, w, k, n, s, sq);
  for (; y < h; ++y) RowMoments<1>(ref + int64_t(y) * w, w, second + y * stride, stride, w, k, n, s, sq);
  if (n == 0) return NoBlockMatchCost;
  const double d = s / n;
  return std::max(sq / n - d * d, 0.0);
}

// The same code for processors with AVX2; every lane computes the same IEEE
// operations, so both give identical results.
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 double VectorCostAvx2(const float* ref, int32_t w, int32_t h, const float* second, int64_t stride) {
  return VectorCost(ref, w, h, second, stride);
}

ASTRELON_AVX512 double VectorCostAvx512(const float* ref, int32_t w, int32_t h, const float* second,
                                        int64_t stride) {
  return VectorCost(ref, w, h, second, stride);
}
#endif

// Two placements side by side: the lower eight lanes hold the left one, the
// upper eight the right one, each lane computing what the eight-lane loops
// compute in it; the sums of each half are then taken as LaneSum takes them.
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX512 inline float HalfLaneSum(__m256 v) {
  // ((v0 + v4) + (v1 + v5)) + ((v2 + v6) + (v3 + v7))
  const __m128 t = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
  const __m128 u = _mm_hadd_ps(t, t);
  return _mm_cvtss_f32(_mm_add_ss(u, _mm_movehdup_ps(u)));
}
ASTRELON_AVX512 inline void HalfLaneSums(__m512 v, float* sums) {
  sums[0] = HalfLaneSum(_mm512_castps512_ps256(v));
  sums[1] = HalfLaneSum(_mm512_extractf32x8_ps(v, 1));
}
// The left placement's eight values at x in the lower half, the right one's in the upper.
ASTRELON_AVX512 inline __m512 PairLoad(const float* b) {
  return _mm512_insertf32x8(_mm512_castps256_ps512(_mm256_loadu_ps(b)), _mm256_loadu_ps(b + 1), 1);
}

// RowMoments for both placements (k: the left one's estimate, then the right one's).
template <int R>
ASTRELON_AVX512 inline void PairRowMoments(const float* a, int64_t strideA, const float* b, int64_t strideB, int32_t w,
                                           const float* k, double* n, double* s, double* sq) {
  const __m512 blank = _mm512_set1_ps(BlankLimit), one = _mm512_set1_ps(1.0f);
  const __m512 vk = _mm512_insertf32x8(_mm512_set1_ps(k[0]), _mm256_set1_ps(k[1]), 1);
  __m512 cnt[R], sum[R], sum2[R];
  for (int r = 0; r < R; ++r) cnt[r] = sum[r] = sum2[r] = _mm512_setzero_ps();
  int32_t x = 0;
  for (; x + 8 <= w; x += 8)
    for (int r = 0; r < R; ++r) {
      const __m512 va = _mm512_broadcast_f32x8(_mm256_loadu_ps(a + r * strideA + x));
      const __m512 vb = PairLoad(b + r * strideB + x);
      const __mmask16 ok = _mm512_mask_cmp_ps_mask(_mm512_cmp_ps_mask(va, blank, _CMP_GT_OQ), vb, blank, _CMP_GT_OQ);
      const __m512 e = _mm512_maskz_sub_ps(ok, _mm512_sub_ps(vb, va), vk);
      cnt[r] = _mm512_add_ps(cnt[r], _mm512_maskz_mov_ps(ok, one));
      sum[r] = _mm512_add_ps(sum[r], e);
      sum2[r] = _mm512_add_ps(sum2[r], _mm512_mul_ps(e, e));
    }
  for (int r = 0; r < R; ++r) {
    float rc[2], rs[2], rq[2];
    HalfLaneSums(cnt[r], rc), HalfLaneSums(sum[r], rs), HalfLaneSums(sum2[r], rq);
    for (int c = 0; c < 2; ++c) {
      const float *ra = a + r * strideA, *rb = b + r * strideB + c;
      for (int32_t i = x; i < w; ++i)
        if (ra[i] > BlankLimit && rb[i] > BlankLimit) {
          const float e = rb[i] - ra[i] - k[c];
          rc[c] += 1.0f;
          rs[c] += e;
          rq[c] += e * e;
        }
      n[c] += rc[c];
      s[c] += rs[c];
      sq[c] += rq[c];
    }
  }
}

// VectorCost of the placements at second and second + 1.
ASTRELON_AVX512 void VectorCostPairAvx512(const float* ref, int32_t w, int32_t h, const float* second,
                                          int64_t stride, double* cost) {
  float k[2] = {0, 0};
  for (int c = 0; c < 2; ++c)
    for (int32_t y = 0; y < h; ++y) {
      double n = 0, s = 0;
      RowFirstPass(ref + int64_t(y) * w, second + y * stride + c, w, n, s);
      if (n > 0) {
        k[c] = float(s / n);
        break;
      }
    }
  double n[2] = {0, 0}, s[2] = {0, 0}, sq[2] = {0, 0};
  int32_t y = 0;
  for (; y + 4 <= h; y += 4) PairRowMoments<4>(ref + int64_t(y) * w, w, second + y * stride, stride, w, k, n, s, sq);
  for (; y < h; ++y) PairRowMoments<1>(ref + int64_t(y) * w, w, second + y * stride, stride, w, k, n, s, sq);
  for (int c = 0; c < 2; ++c) {
    if (n[c] == 0) {
      cost[c] = NoBlockMatchCost;
      continue;
    }
    const double d = s[c] / n[c];
    cost[c] = std::max(sq[c] / n[c] - d * d, 0.0);
  }
}
#endif

double PlainCost(const float* ref, int32_t w, int32_t h, const float* second, int64_t stride) {
  double n = 0, s = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float *a = ref + int64_t(y) * w, *b = second + y * stride;
    for (int32_t x = 0; x < w; ++x)
      if (a[x] > BlankLimit && b[x] > BlankLimit) {
        n += 1;
        s += double(b[x]) - a[x];
      }
  }
  if (n == 0) return NoBlockMatchCost;
  const double d = s / n;
  double sq = 0;
  for (int32_t y = 0; y < h; ++y) {
    const float *a = ref + int64_t(y) * w, *b = second + y * stride;
    for (int32_t x = 0; x < w; ++x)
      if (a[x] > BlankLimit && b[x] > BlankLimit) {
        const double e = double(b[x]) - a[x] - d;
        sq += e * e;
      }
  }
  return sq / n;
}

}  // namespace

double BlockMatchCost(std::span<const float> ref, int32_t w, int32_t h, std::span<const float> second,
                      int64_t stride, bool vector) {
  if (w <= 0 || h <= 0) return NoBlockMatchCost;
  CheckRect(ref.size(), w, h, w);
  CheckRect(second.size(), w, h, stride);
  if (!vector) return PlainCost(ref.data(), w, h, second.data(), stride);
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(true)) return VectorCostAvx512(ref.data(), w, h, second.data(), stride);
  if (Avx2Enabled && CpuHasAvx2()) return VectorCostAvx2(ref.data(), w, h, second.data(), stride);
#endif
  return VectorCost(ref.data(), w, h, second.data(), stride);
}

void BlockMatchCostPair(std::span<const float> ref, int32_t w, int32_t h, std::span<const float> second,
                        int64_t stride, bool vector, double& left, double& right) {
#if ASTRELON_HAVE_AVX2
  if (vector && w > 0 && h > 0 && stride > w && UseAvx512(true)) {
    CheckRect(ref.size(), w, h, w);
    CheckRect(second.size(), w + 1, h, stride);
    double cost[2];
    VectorCostPairAvx512(ref.data(), w, h, second.data(), stride, cost);
    left = cost[0], right = cost[1];
    return;
  }
#endif
  left = BlockMatchCost(ref, w, h, second, stride, vector);
  right = BlockMatchCost(ref, w, h, second.size() > 0 ? second.subspan(1) : second, stride, vector);
}

}  // namespace astrelon
