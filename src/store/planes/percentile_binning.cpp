// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (the warning points into their header).
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include "store/planes/percentile_binning.h"

#include "core/settings.h"
#include "platform/parallel_bands.h"

namespace astrelon::percentile {

namespace {

#if ASTRELON_HAVE_AVX2
// Eight values at a time (no product fused with the subtraction: they stay two steps).
ASTRELON_AVX512 void ValueBinsAvx512(const float* v, int64_t n, const TBinning& b, int32_t* out) {
  const __m512d mn = _mm512_set1_pd(double(b.Mn)), scale = _mm512_set1_pd(b.Scale), lo = _mm512_setzero_pd(),
                hi = _mm512_set1_pd(double(BlankBin));
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d d = _mm512_cvtps_pd(_mm256_loadu_ps(v + i));
    const __m512d x = _mm512_min_pd(_mm512_max_pd(_mm512_mul_pd(_mm512_sub_pd(d, mn), scale), lo), hi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm512_cvtpd_epi32(x));
  }
  for (; i < n; ++i) out[i] = b.Bin(v[i]);
}
#endif

}  // namespace

void ValueBins(const float* v, int64_t n, const TBinning& b, int32_t* out, bool vector) {
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(vector)) {
    ValueBinsAvx512(v, n, b, out);
    return;
  }
#endif
  int64_t i = 0;
#if ASTRELON_HAVE_SSE2
  if (vector) {
    const __m128d mn = _mm_set1_pd(double(b.Mn)), scale = _mm_set1_pd(b.Scale), lo = _mm_setzero_pd(),
                  hi = _mm_set1_pd(double(BlankBin));
    for (; i + 2 <= n; i += 2) {
      const __m128 f = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i)));
      const __m128d d = _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(f), mn), scale), lo), hi);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_cvtpd_epi32(d));
    }
  }
#endif
  for (; i < n; ++i) out[i] = b.Bin(v[i]);
}

int PassThreads(int32_t w, int32_t h) {
  return std::min<int>(BandThreads(int64_t(w) * int64_t(h), int64_t(1) << 19, Options.Multicore != 0), h);
}

}  // namespace astrelon::percentile
