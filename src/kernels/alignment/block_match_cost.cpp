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

}  // namespace astrelon
