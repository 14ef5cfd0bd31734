#include "batch/accumulate/double_size_span.h"

#include "batch/accumulate/footprint_sample.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

void AddScalar(const TDoubleSizeSpan& s, const double* xs, const double* ys, int32_t first, int32_t count) {
  for (int32_t k = first; k < count; ++k) {
    const double x = s.Linear ? s.BaseX + s.StepX * (s.First + k) : xs[k];
    const double y = s.Linear ? s.BaseY + s.StepY * (s.First + k) : ys[k];
    if (!(x >= 0 && x < s.XLimit && y >= 0 && y < s.YLimit)) continue;
    double wt = 0;
    const double sample = FootprintSampleInside(s.Frame, s.FrameWidth, y, x, wt);
    if (!(wt > 0)) continue;
    // (sample / W + target level - frame level) W, times the frame's weight
    const double contribution = (sample + s.Shift * wt) * s.FrameWeight;
    s.Sum[k] = s.Weight[k] <= 0 ? float(contribution) : float(s.Sum[k] + contribution);
    s.Weight[k] += float(wt * s.FrameWeight);
  }
}

#if ASTRELON_HAVE_AVX2
// One of the four pixels around: its weight k where its value is valid.
ASTRELON_AVX2 inline void Take(__m256d& sum, __m256d& w, __m256d blank, __m128 values, __m256d k) {
  const __m256d v = _mm256_cvtps_pd(values);
  const __m256d valid = _mm256_cmp_pd(v, blank, _CMP_GT_OQ);
  const __m256d ki = _mm256_and_pd(valid, k);
  sum = _mm256_add_pd(sum, _mm256_mul_pd(ki, _mm256_and_pd(valid, v)));
  w = _mm256_add_pd(w, ki);
}

// Four pixels a step, every operation the scalar loop's in the same order
// (no fused multiply-adds), so the results agree to the bit.
ASTRELON_AVX2 int32_t AddAvx2(const TDoubleSizeSpan& s, const double* xs, const double* ys, int32_t count) {
  const __m256d zero = _mm256_setzero_pd(), one = _mm256_set1_pd(1.0), scale = _mm256_set1_pd(DropScale);
  const __m256d lower = _mm256_set1_pd(0.4), blank = _mm256_set1_pd(double(BlankLimit));
  const __m256d xLimit = _mm256_set1_pd(s.XLimit), yLimit = _mm256_set1_pd(s.YLimit);
  const __m256d shift = _mm256_set1_pd(s.Shift), frameWeight = _mm256_set1_pd(s.FrameWeight);
  const __m256d baseX = _mm256_set1_pd(s.BaseX), baseY = _mm256_set1_pd(s.BaseY);
  const __m256d stepX = _mm256_set1_pd(s.StepX), stepY = _mm256_set1_pd(s.StepY);
  const __m128i width = _mm_set1_epi32(s.FrameWidth);
  // The first values of the pairs to the low half, the second ones to the high half.
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const long long* frame = reinterpret_cast<const long long*>(s.Frame);
  int32_t k = 0;
  for (; k + 4 <= count; k += 4) {
    __m256d x, y;
    if (s.Linear) {
      const __m256d i = _mm256_add_pd(_mm256_set1_pd(double(s.First + k)), _mm256_setr_pd(0, 1, 2, 3));
      x = _mm256_add_pd(baseX, _mm256_mul_pd(stepX, i));
      y = _mm256_add_pd(baseY, _mm256_mul_pd(stepY, i));
    } else {
      x = _mm256_loadu_pd(xs + k);
      y = _mm256_loadu_pd(ys + k);
    }
    const __m256d in = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(x, zero, _CMP_GE_OQ), _mm256_cmp_pd(x, xLimit, _CMP_LT_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(y, zero, _CMP_GE_OQ), _mm256_cmp_pd(y, yLimit, _CMP_LT_OQ)));
    const int inMask = _mm256_movemask_pd(in);
    if (inMask == 0) continue;
    const __m256d x0 = _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d y0 = _mm256_round_pd(y, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d fx = _mm256_sub_pd(x, x0), fy = _mm256_sub_pd(y, y0);
    const __m128i ix = _mm256_cvttpd_epi32(_mm256_and_pd(in, x0)), iy = _mm256_cvttpd_epi32(_mm256_and_pd(in, y0));
    // Four pixels on one frame row within eight columns (the usual case, as
    // target pixels step half a frame pixel): two rows of eight values loaded
    // and their pairs picked; otherwise gathered, pixels outside reading the
    // frame's first pair.
    const int32_t x00 = _mm_cvtsi128_si32(ix), y00 = _mm_cvtsi128_si32(iy);
    const __m128i dx = _mm_sub_epi32(ix, _mm_set1_epi32(x00));
    const bool near = inMask == 15 &&
                      _mm_movemask_epi8(_mm_cmpeq_epi32(iy, _mm_set1_epi32(y00))) == 0xFFFF &&
                      _mm_movemask_epi8(_mm_or_si128(_mm_cmplt_epi32(dx, _mm_setzero_si128()),
                                                     _mm_cmpgt_epi32(dx, _mm_set1_epi32(6)))) == 0 &&
                      int64_t(y00 + 1) * s.FrameWidth + x00 + 8 <= s.FramePixels;
    __m256 top, bottom;
    if (near) {
      const float* a = s.Frame + int64_t(y00) * s.FrameWidth + x00;
      const __m256i pick = _mm256_setr_m128i(dx, _mm_add_epi32(dx, _mm_set1_epi32(1)));
      top = _mm256_permutevar8x32_ps(_mm256_loadu_ps(a), pick);
      bottom = _mm256_permutevar8x32_ps(_mm256_loadu_ps(a + s.FrameWidth), pick);
    } else {
      const __m128i at = _mm_add_epi32(_mm_mullo_epi32(iy, width), ix);
      top = _mm256_permutevar8x32_ps(_mm256_castsi256_ps(_mm256_i32gather_epi64(frame, at, 4)), split);
      bottom = _mm256_permutevar8x32_ps(
          _mm256_castsi256_ps(_mm256_i32gather_epi64(frame, _mm_add_epi32(at, width), 4)), split);
    }
    const __m256d r0 = _mm256_max_pd(_mm256_sub_pd(one, _mm256_mul_pd(fy, scale)), zero);
    const __m256d r1 = _mm256_max_pd(_mm256_mul_pd(_mm256_sub_pd(fy, lower), scale), zero);
    const __m256d c0 = _mm256_max_pd(_mm256_sub_pd(one, _mm256_mul_pd(fx, scale)), zero);
    const __m256d c1 = _mm256_max_pd(_mm256_mul_pd(_mm256_sub_pd(fx, lower), scale), zero);
    __m256d sum = zero, w = zero;
    Take(sum, w, blank, _mm256_castps256_ps128(top), _mm256_mul_pd(r0, c0));
    Take(sum, w, blank, _mm256_extractf128_ps(top, 1), _mm256_mul_pd(r0, c1));
    Take(sum, w, blank, _mm256_castps256_ps128(bottom), _mm256_mul_pd(r1, c0));
    Take(sum, w, blank, _mm256_extractf128_ps(bottom, 1), _mm256_mul_pd(r1, c1));
    const __m256d taken = _mm256_and_pd(in, _mm256_cmp_pd(w, zero, _CMP_GT_OQ));
    const int takenMask = _mm256_movemask_pd(taken);
    if (takenMask == 0) continue;
    const __m256d contribution = _mm256_mul_pd(_mm256_add_pd(sum, _mm256_mul_pd(shift, w)), frameWeight);
    const __m128 oldSum = _mm_loadu_ps(s.Sum + k), oldWeight = _mm_loadu_ps(s.Weight + k);
    const __m128 added = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(oldSum), contribution));
    const __m128 fresh = _mm256_cvtpd_ps(contribution);
    const __m128 newSum = _mm_blendv_ps(added, fresh, _mm_cmple_ps(oldWeight, _mm_setzero_ps()));
    const __m128 newWeight = _mm_add_ps(oldWeight, _mm256_cvtpd_ps(_mm256_mul_pd(w, frameWeight)));
    const __m128 mask = _mm_castsi128_ps(_mm_cmpeq_epi32(
        _mm_and_si128(_mm_set1_epi32(takenMask), _mm_setr_epi32(1, 2, 4, 8)), _mm_setr_epi32(1, 2, 4, 8)));
    _mm_storeu_ps(s.Sum + k, _mm_blendv_ps(oldSum, newSum, mask));
    _mm_storeu_ps(s.Weight + k, _mm_blendv_ps(oldWeight, newWeight, mask));
  }
  return k;
}
#endif

}  // namespace

void AddDoubleSizeSpan(const TDoubleSizeSpan& span, const double* xs, const double* ys, int32_t count, bool vector) {
  int32_t first = 0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector)) first = AddAvx2(span, xs, ys, count);
#endif
  AddScalar(span, xs, ys, first, count);
}

}  // namespace astrelon
