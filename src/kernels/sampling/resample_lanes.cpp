// Weighted means of the resampling passes computed for several outputs side by
// side: along columns (output row from source rows) and for groups of eight rows
// (transposed so that their samples of a column lie together). Each lane sums
// its taps in tap order in double, as WeightedMean does, so every path gives
// the scalar path's values bit for bit.
#include "kernels/sampling/resample_steps.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/simd_support.h"

namespace astrelon {

namespace {

#if ASTRELON_HAVE_SSE2
// Four lanes: out[l] = weighted mean of base[t * stride + l], t < count.
inline void Lanes4Sse2(const float* base, size_t stride, int32_t count, const float* weights, double minWeight,
                       float* out) {
  const __m128d limit = _mm_set1_pd(double(BlankLimit)), minW = _mm_set1_pd(minWeight);
  __m128d w0 = _mm_setzero_pd(), w1 = w0, v0 = w0, v1 = w0;
  const float* s = base;
  for (int32_t t = 0; t < count; ++t, s += stride) {
    const __m128 v = _mm_loadu_ps(s);
    const __m128d a = _mm_cvtps_pd(v), b = _mm_cvtps_pd(_mm_movehl_ps(v, v));
    const __m128d wt = _mm_set1_pd(double(weights[t]));
    const __m128d ma = _mm_cmpgt_pd(a, limit), mb = _mm_cmpgt_pd(b, limit);
    w0 = _mm_add_pd(w0, _mm_and_pd(ma, wt));
    w1 = _mm_add_pd(w1, _mm_and_pd(mb, wt));
    v0 = _mm_add_pd(v0, _mm_and_pd(ma, _mm_mul_pd(wt, a)));
    v1 = _mm_add_pd(v1, _mm_and_pd(mb, _mm_mul_pd(wt, b)));
  }
  const __m128 q = _mm_movelh_ps(_mm_cvtpd_ps(_mm_div_pd(v0, w0)), _mm_cvtpd_ps(_mm_div_pd(v1, w1)));
  // The two 64-bit masks of each half packed into four 32-bit lanes.
  const __m128 ok = _mm_movelh_ps(_mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(w0, minW)), 0x08)),
                                  _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castpd_si128(_mm_cmpgt_pd(w1, minW)), 0x08)));
  _mm_storeu_ps(out, _mm_or_ps(_mm_and_ps(ok, q), _mm_andnot_ps(ok, _mm_set1_ps(BlankPixel))));
}
#endif

#if ASTRELON_HAVE_AVX2
// Eight lanes, four doubles per vector.
ASTRELON_AVX2 inline void Lanes8Avx2(const float* base, size_t stride, int32_t count, const float* weights,
                                     double minWeight, float* out) {
  const __m256d limit = _mm256_set1_pd(double(BlankLimit)), minW = _mm256_set1_pd(minWeight);
  __m256d w0 = _mm256_setzero_pd(), w1 = w0, v0 = w0, v1 = w0;
  const float* s = base;
  for (int32_t t = 0; t < count; ++t, s += stride) {
    const __m256 v = _mm256_loadu_ps(s);
    const __m256d a = _mm256_cvtps_pd(_mm256_castps256_ps128(v)), b = _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1));
    const __m256d wt = _mm256_set1_pd(double(weights[t]));
    const __m256d ma = _mm256_cmp_pd(a, limit, _CMP_GT_OQ), mb = _mm256_cmp_pd(b, limit, _CMP_GT_OQ);
    w0 = _mm256_add_pd(w0, _mm256_and_pd(ma, wt));
    w1 = _mm256_add_pd(w1, _mm256_and_pd(mb, wt));
    v0 = _mm256_add_pd(v0, _mm256_and_pd(ma, _mm256_mul_pd(wt, a)));
    v1 = _mm256_add_pd(v1, _mm256_and_pd(mb, _mm256_mul_pd(wt, b)));
  }
  const __m128 q0 = _mm256_cvtpd_ps(_mm256_div_pd(v0, w0)), q1 = _mm256_cvtpd_ps(_mm256_div_pd(v1, w1));
  // A true mask converts to NaN, a false one to 0: compare against itself to get full masks.
  const __m128 ok0 = _mm256_cvtpd_ps(_mm256_cmp_pd(w0, minW, _CMP_GT_OQ));
  const __m128 ok1 = _mm256_cvtpd_ps(_mm256_cmp_pd(w1, minW, _CMP_GT_OQ));
  const __m128 blank = _mm_set1_ps(BlankPixel);
  _mm_storeu_ps(out, _mm_blendv_ps(blank, q0, _mm_cmpunord_ps(ok0, ok0)));
  _mm_storeu_ps(out + 4, _mm_blendv_ps(blank, q1, _mm_cmpunord_ps(ok1, ok1)));
}

// Transposes an 8 x 8 block: row k of src (stride srcStride) becomes column k of dst (stride dstStride).
ASTRELON_AVX2 inline void Transpose8x8Avx2(const float* src, size_t srcStride, float* dst, size_t dstStride) {
  __m256 r[8], t[8];
  for (int k = 0; k < 8; ++k) r[k] = _mm256_loadu_ps(src + size_t(k) * srcStride);
  for (int k = 0; k < 8; k += 2) {
    t[k] = _mm256_unpacklo_ps(r[k], r[k + 1]);
    t[k + 1] = _mm256_unpackhi_ps(r[k], r[k + 1]);
  }
  for (int k = 0; k < 8; k += 4) {
    r[k] = _mm256_shuffle_ps(t[k], t[k + 2], 0x44);
    r[k + 1] = _mm256_shuffle_ps(t[k], t[k + 2], 0xEE);
    r[k + 2] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0x44);
    r[k + 3] = _mm256_shuffle_ps(t[k + 1], t[k + 3], 0xEE);
  }
  for (int k = 0; k < 4; ++k) {
    _mm256_storeu_ps(dst + size_t(k) * dstStride, _mm256_permute2f128_ps(r[k], r[k + 4], 0x20));
    _mm256_storeu_ps(dst + size_t(k + 4) * dstStride, _mm256_permute2f128_ps(r[k], r[k + 4], 0x31));
  }
}

ASTRELON_AVX2 void RowGroupAvx2(const float* rows, int32_t w, int32_t n, const int32_t* first, const int32_t* count,
                                const size_t* offset, const float* weights, double minWeight, float* out,
                                float* in8, float* out8) {
  int32_t x = 0;
  for (; x + 8 <= w; x += 8) Transpose8x8Avx2(rows + x, size_t(w), in8 + size_t(x) * RowGroup, RowGroup);
  for (; x < w; ++x)
    for (int32_t k = 0; k < RowGroup; ++k) in8[size_t(x) * RowGroup + size_t(k)] = rows[size_t(k) * size_t(w) + size_t(x)];
  for (int32_t i = 0; i < n; ++i)
    Lanes8Avx2(in8 + size_t(first[i]) * RowGroup, RowGroup, count[i], weights + offset[i], minWeight,
               out8 + size_t(i) * RowGroup);
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) Transpose8x8Avx2(out8 + size_t(i) * RowGroup, RowGroup, out + i, size_t(n));
  for (; i < n; ++i)
    for (int32_t k = 0; k < RowGroup; ++k) out[size_t(k) * size_t(n) + size_t(i)] = out8[size_t(i) * RowGroup + size_t(k)];
}
#endif

}  // namespace

float TTapTable::Mean(const float* line, ptrdiff_t stride, size_t i, double minWeight) const {
  return WeightedMean(line, stride, First[i], Count[i], Weights(i), minWeight);
}

void WeightedRowMeans(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                      double minWeight, float* out, int32_t n, bool vector) {
  const float* base = src + size_t(first) * rowStride;
  int32_t x = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector))
    for (; x + 8 <= n; x += 8) Lanes8Avx2(base + x, rowStride, count, weights, minWeight, out + x);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector)
    for (; x + 4 <= n; x += 4) Lanes4Sse2(base + x, rowStride, count, weights, minWeight, out + x);
#endif
  for (; x < n; ++x) out[x] = WeightedMean(base + x, ptrdiff_t(rowStride), 0, count, weights, minWeight);
}

void WeightedMeansOfRowGroup(const float* rows, int32_t w, int32_t n, const TTapTable& taps, double minWeight,
                             float* out, bool vector, TPlane& scratch) {
  const int32_t* first = taps.First.data();
  const int32_t* count = taps.Count.data();
  const size_t* offset = taps.Offset.data();
  const float* weights = taps.Weight.data();
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) {
    scratch.resize((size_t(w) + size_t(n)) * RowGroup);
    RowGroupAvx2(rows, w, n, first, count, offset, weights, minWeight, out, scratch.data(),
                 scratch.data() + size_t(w) * RowGroup);
    return;
  }
#endif
  // Other paths: row by row (SSE2 has too few lanes for the transposition to pay).
  for (int32_t k = 0; k < RowGroup; ++k)
    for (int32_t i = 0; i < n; ++i)
      out[size_t(k) * size_t(n) + size_t(i)] =
          WeightedMean(rows + size_t(k) * size_t(w), 1, first[i], count[i], weights + offset[i], minWeight);
}

}  // namespace astrelon
