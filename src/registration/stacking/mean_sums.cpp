#include "registration/stacking/mean_sums.h"

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

void AddScalar(float* sum, int16_t* count, const float* frame, const float* dark, int32_t from, int32_t w) {
  for (int32_t x = from; x < w; ++x) {
    float v = frame[x];
    if (!IsValidPixel(sum[x]) || !IsValidPixel(v)) continue;
    if (dark) {
      if (!IsValidPixel(dark[x])) continue;
      v -= dark[x];
    }
    sum[x] += v;
    ++count[x];
  }
}

#if ASTRELON_HAVE_SSE2
// Eight pixels at a time; a lane that does not count keeps its sum (blended,
// not added to, so that its bits stay). Returns the pixels done.
int32_t AddSse2(float* sum, int16_t* count, const float* frame, const float* dark, int32_t w) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const int32_t n8 = w & ~7;
  auto four = [&](int32_t x) {
    const __m128 s = _mm_loadu_ps(sum + x);
    __m128 v = _mm_loadu_ps(frame + x);
    __m128 m = _mm_and_ps(_mm_cmpgt_ps(s, limit), _mm_cmpgt_ps(v, limit));
    if (dark) {
      const __m128 d = _mm_loadu_ps(dark + x);
      m = _mm_and_ps(m, _mm_cmpgt_ps(d, limit));
      v = _mm_sub_ps(v, d);
    }
    _mm_storeu_ps(sum + x, _mm_or_ps(_mm_and_ps(m, _mm_add_ps(s, v)), _mm_andnot_ps(m, s)));
    return _mm_castps_si128(m);
  };
  for (int32_t x = 0; x < n8; x += 8) {
    const __m128i m = _mm_packs_epi32(four(x), four(x + 4));  // -1 where counted
    __m128i* c = reinterpret_cast<__m128i*>(count + x);
    _mm_storeu_si128(c, _mm_sub_epi16(_mm_loadu_si128(c), m));
  }
  return n8;
}
#endif

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t AddAvx2(float* sum, int16_t* count, const float* frame, const float* dark, int32_t w) {
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const int32_t n8 = w & ~7;
  for (int32_t x = 0; x < n8; x += 8) {
    const __m256 s = _mm256_loadu_ps(sum + x);
    __m256 v = _mm256_loadu_ps(frame + x);
    __m256 m = _mm256_and_ps(_mm256_cmp_ps(s, limit, _CMP_GT_OQ), _mm256_cmp_ps(v, limit, _CMP_GT_OQ));
    if (dark) {
      const __m256 d = _mm256_loadu_ps(dark + x);
      m = _mm256_and_ps(m, _mm256_cmp_ps(d, limit, _CMP_GT_OQ));
      v = _mm256_sub_ps(v, d);
    }
    _mm256_storeu_ps(sum + x, _mm256_blendv_ps(s, _mm256_add_ps(s, v), m));
    const __m256i mi = _mm256_castps_si256(m);
    const __m128i m16 = _mm_packs_epi32(_mm256_castsi256_si128(mi), _mm256_extracti128_si256(mi, 1));
    __m128i* c = reinterpret_cast<__m128i*>(count + x);
    _mm_storeu_si128(c, _mm_sub_epi16(_mm_loadu_si128(c), m16));
  }
  return n8;
}
#endif

}  // namespace

void AddRowToMean(float* sum, int16_t* count, const float* frame, const float* dark, int32_t w, bool vector) {
  int32_t done = 0;
  bool wide = false;
#if ASTRELON_HAVE_AVX2
  wide = UseAvx2(vector);
  if (wide) done = AddAvx2(sum, count, frame, dark, w);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector && !wide) done = AddSse2(sum, count, frame, dark, w);
#endif
  AddScalar(sum, count, frame, dark, done, w);
}

void DivideMean(float* sum, const int16_t* count, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (count[i] > 0) sum[i] /= float(count[i]);
}

}  // namespace astrelon
