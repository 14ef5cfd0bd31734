#include "batch/accumulate/mosaic_splat_run.h"

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

void PrepareScalar(const TSplatRow& r, int32_t first, int32_t k0, int32_t count, TSplatRun& run) {
  for (int32_t k = k0; k < count; ++k) {
    const int32_t i = first + k;
    const double X = r.C0 + r.StepX * i, Y = r.Y0 + r.StepY * i;
    const float v = r.Values[i];
    run.At[k] = -1;
    if (!IsValidPixel(v) || !r.Used[i & 1] || !(X >= 0 && X < r.XLimit && Y >= 0 && Y < r.YLimit)) continue;
    const int32_t ix = int32_t(X), iy = int32_t(Y);
    if (iy + 1 < r.R0 || iy >= r.R1) continue;
    const float fx = float(X - ix), fy = float(Y - iy);
    run.At[k] = iy * r.TargetWidth + ix;
    run.Iy[k] = iy;
    const float w[4] = {(1 - fx) * (1 - fy) * r.Weight, fx * (1 - fy) * r.Weight, (1 - fx) * fy * r.Weight,
                        fx * fy * r.Weight};
    const float value = v + r.Shift;
    run.TopWeight[2 * k] = w[0];
    run.TopWeight[2 * k + 1] = w[1];
    run.BottomWeight[2 * k] = w[2];
    run.BottomWeight[2 * k + 1] = w[3];
    run.Top[2 * k] = value * w[0];
    run.Top[2 * k + 1] = value * w[1];
    run.Bottom[2 * k] = value * w[2];
    run.Bottom[2 * k + 1] = value * w[3];
  }
}

#if ASTRELON_HAVE_AVX2
// Four pixels a step, the scalar loop's operations in the same order.
ASTRELON_AVX2 int32_t PrepareAvx2(const TSplatRow& r, int32_t first, int32_t count, TSplatRun& run) {
  const __m256d zero = _mm256_setzero_pd();
  const __m256d c0 = _mm256_set1_pd(r.C0), y0 = _mm256_set1_pd(r.Y0);
  const __m256d stepX = _mm256_set1_pd(r.StepX), stepY = _mm256_set1_pd(r.StepY);
  const __m256d xLimit = _mm256_set1_pd(r.XLimit), yLimit = _mm256_set1_pd(r.YLimit);
  const __m128 one = _mm_set1_ps(1.0f), shift = _mm_set1_ps(r.Shift), blank = _mm_set1_ps(BlankLimit);
  const __m128 frameWeight = _mm_set1_ps(r.Weight);
  // Even and odd columns alternate; `first` is even.
  const __m128i used = _mm_setr_epi32(-int32_t(r.Used[0]), -int32_t(r.Used[1]), -int32_t(r.Used[0]),
                                      -int32_t(r.Used[1]));
  const __m128i lowRow = _mm_set1_epi32(int32_t(r.R0 - 2)), highRow = _mm_set1_epi32(int32_t(r.R1));
  const __m128i width = _mm_set1_epi32(r.TargetWidth), none = _mm_set1_epi32(-1);
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    const int32_t i = first + k;
    const __m256d index = _mm256_add_pd(_mm256_set1_pd(double(i)), _mm256_setr_pd(0, 1, 2, 3));
    const __m256d X = _mm256_add_pd(c0, _mm256_mul_pd(stepX, index));
    const __m256d Y = _mm256_add_pd(y0, _mm256_mul_pd(stepY, index));
    const __m128 v = _mm_loadu_ps(r.Values + i);
    const __m256d inside = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(X, zero, _CMP_GE_OQ), _mm256_cmp_pd(X, xLimit, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(Y, zero, _CMP_GE_OQ), _mm256_cmp_pd(Y, yLimit, _CMP_LT_OQ)));
    // Lanes outside convert a position of 0.
    const __m256d xi = _mm256_round_pd(_mm256_and_pd(inside, X), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d yi = _mm256_round_pd(_mm256_and_pd(inside, Y), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m128i ix = _mm256_cvttpd_epi32(xi), iy = _mm256_cvttpd_epi32(yi);
    const __m128i insideLanes = _mm256_cvtpd_epi32(_mm256_and_pd(inside, _mm256_set1_pd(1.0)));
    __m128i take = _mm_and_si128(_mm_cmpeq_epi32(insideLanes, _mm_set1_epi32(1)), used);
    take = _mm_and_si128(take, _mm_castps_si128(_mm_cmpgt_ps(v, blank)));
    take = _mm_and_si128(take, _mm_and_si128(_mm_cmpgt_epi32(iy, lowRow), _mm_cmplt_epi32(iy, highRow)));
    const __m128 fx = _mm256_cvtpd_ps(_mm256_sub_pd(X, xi)), fy = _mm256_cvtpd_ps(_mm256_sub_pd(Y, yi));
    const __m128 gx = _mm_sub_ps(one, fx), gy = _mm_sub_ps(one, fy);
    const __m128i at = _mm_add_epi32(_mm_mullo_epi32(iy, width), ix);
    _mm_store_si128(reinterpret_cast<__m128i*>(run.At + k), _mm_blendv_epi8(none, at, take));
    _mm_store_si128(reinterpret_cast<__m128i*>(run.Iy + k), iy);
    const __m128 w0 = _mm_mul_ps(_mm_mul_ps(gx, gy), frameWeight), w1 = _mm_mul_ps(_mm_mul_ps(fx, gy), frameWeight);
    const __m128 w2 = _mm_mul_ps(_mm_mul_ps(gx, fy), frameWeight), w3 = _mm_mul_ps(_mm_mul_ps(fx, fy), frameWeight);
    const __m128 value = _mm_add_ps(v, shift);
    // Pairs of left and right pixel, lane after lane.
    const __m256 top = _mm256_setr_m128(_mm_unpacklo_ps(w0, w1), _mm_unpackhi_ps(w0, w1));
    const __m256 bottom = _mm256_setr_m128(_mm_unpacklo_ps(w2, w3), _mm_unpackhi_ps(w2, w3));
    const __m256 values = _mm256_setr_m128(_mm_unpacklo_ps(value, value), _mm_unpackhi_ps(value, value));
    _mm256_store_ps(run.TopWeight + 2 * k, top);
    _mm256_store_ps(run.BottomWeight + 2 * k, bottom);
    _mm256_store_ps(run.Top + 2 * k, _mm256_mul_ps(values, top));
    _mm256_store_ps(run.Bottom + 2 * k, _mm256_mul_ps(values, bottom));
  }
  return k;
}
#endif

}  // namespace

void PrepareSplatRun(const TSplatRow& row, int32_t first, int32_t count, TSplatRun& run, bool vector) {
  int32_t k = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) k = PrepareAvx2(row, first, count, run);
#endif
  PrepareScalar(row, first, k, count, run);
}

}  // namespace astrelon
