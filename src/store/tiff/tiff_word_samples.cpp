#include "store/tiff/tiff_word_samples.h"

#include "platform/simd_support.h"
#include "store/tiff/tiff_writer.h"

namespace astrelon {

namespace {

inline uint16_t Word(float v, double low, double factor) { return FloatToWordSample(float((double(v) - low) * factor)); }

void ScalarSamples(const float* const* planes, int planeCount, size_t from, size_t n, double low, double factor,
                   uint16_t* out) {
  if (planeCount == 1) {
    for (size_t x = from; x < n; ++x) out[x] = Word(planes[0][x], low, factor);
    return;
  }
  for (size_t x = from; x < n; ++x) {
    out[3 * x] = Word(planes[0][x], low, factor);
    out[3 * x + 1] = Word(planes[1][x], low, factor);
    out[3 * x + 2] = Word(planes[2][x], low, factor);
  }
}

#if ASTRELON_HAVE_SSE2
// Four values: (v - low) x factor in double, rounded to float, then as
// FloatToWordSample: below 0 and NaN give 0, above 65535 gives 65535, the rest
// rounds to the nearest integer (halves to even, the processor's default).
inline __m128i WordsSse2(const float* v, __m128d low, __m128d factor) {
  const __m128 f = _mm_loadu_ps(v);
  const __m128d a = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(f), low), factor);
  const __m128d b = _mm_mul_pd(_mm_sub_pd(_mm_cvtps_pd(_mm_movehl_ps(f, f)), low), factor);
  const __m128 x = _mm_movelh_ps(_mm_cvtpd_ps(a), _mm_cvtpd_ps(b));
  const __m128i ok = _mm_castps_si128(_mm_cmpge_ps(x, _mm_setzero_ps()));  // false for NaN
  const __m128i big = _mm_castps_si128(_mm_cmpgt_ps(x, _mm_set1_ps(65535.0f)));
  const __m128i r = _mm_and_si128(_mm_andnot_si128(big, ok), _mm_cvtps_epi32(x));
  return _mm_or_si128(r, _mm_and_si128(big, _mm_set1_epi32(65535)));
}

// Eight words 0..65535 from two vectors of four 32-bit integers.
inline __m128i PackWordsSse2(__m128i a, __m128i b) {
  const __m128i half = _mm_set1_epi32(32768);
  const __m128i packed = _mm_packs_epi32(_mm_sub_epi32(a, half), _mm_sub_epi32(b, half));
  return _mm_xor_si128(packed, _mm_set1_epi16(int16_t(0x8000)));
}

// Grey rows; returns the pixels done (a multiple of 8).
size_t GreySse2(const float* v, size_t n, double low, double factor, uint16_t* out) {
  const __m128d lo = _mm_set1_pd(low), f = _mm_set1_pd(factor);
  const size_t n8 = n & ~size_t(7);
  for (size_t x = 0; x < n8; x += 8)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), PackWordsSse2(WordsSse2(v + x, lo, f), WordsSse2(v + x + 4, lo, f)));
  return n8;
}
#endif

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m128i WordsAvx2(const float* v, __m256d low, __m256d factor) {
  const __m256 f = _mm256_loadu_ps(v);
  const __m256d a = _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(f)), low), factor);
  const __m256d b = _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)), low), factor);
  const __m256 x = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(a)), _mm256_cvtpd_ps(b), 1);
  const __m256i ok = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_GE_OQ));
  const __m256i big = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_set1_ps(65535.0f), _CMP_GT_OQ));
  __m256i r = _mm256_and_si256(_mm256_andnot_si256(big, ok), _mm256_cvtps_epi32(x));
  r = _mm256_or_si256(r, _mm256_and_si256(big, _mm256_set1_epi32(65535)));
  return _mm_packus_epi32(_mm256_castsi256_si128(r), _mm256_extracti128_si256(r, 1));
}

// Values read this far ahead are asked for early: the conversion then keeps
// pace with the memory instead of waiting on each line it reads.
constexpr size_t PrefetchAhead = 1024;

// Asks for the line PrefetchAhead values after v. A prefetch is a hint and
// never faults, also beyond the plane's end (the address is formed as an integer).
inline void PrefetchAheadOf(const float* v) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(v) + PrefetchAhead * sizeof(float)),
               _MM_HINT_T0);
}

// Returns the pixels done (a multiple of 8).
ASTRELON_AVX2 size_t SamplesAvx2(const float* const* planes, int planeCount, size_t n, double low, double factor,
                                 uint16_t* out) {
  const __m256d lo = _mm256_set1_pd(low), f = _mm256_set1_pd(factor);
  const size_t n8 = n & ~size_t(7);
  if (planeCount == 1) {
    for (size_t x = 0; x < n8; x += 8) {
      if ((x & 15) == 0) PrefetchAheadOf(planes[0] + x);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), WordsAvx2(planes[0] + x, lo, f));
    }
    return n8;
  }
  // Eight pixels of red, green and blue words into 24 interleaved words: each
  // output vector takes its words from the three by byte shuffles.
  const auto m = [](int a, int b, int c, int d, int e, int g, int h, int i) {
    const auto lo8 = [](int w) { return char(w < 0 ? -128 : 2 * w); };
    const auto hi8 = [](int w) { return char(w < 0 ? -128 : 2 * w + 1); };
    return _mm_setr_epi8(lo8(a), hi8(a), lo8(b), hi8(b), lo8(c), hi8(c), lo8(d), hi8(d), lo8(e), hi8(e), lo8(g),
                         hi8(g), lo8(h), hi8(h), lo8(i), hi8(i));
  };
  const __m128i r0 = m(0, -1, -1, 1, -1, -1, 2, -1), g0 = m(-1, 0, -1, -1, 1, -1, -1, 2), b0 = m(-1, -1, 0, -1, -1, 1, -1, -1);
  const __m128i r1 = m(-1, 3, -1, -1, 4, -1, -1, 5), g1 = m(-1, -1, 3, -1, -1, 4, -1, -1), b1 = m(2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i r2 = m(-1, -1, 6, -1, -1, 7, -1, -1), g2 = m(5, -1, -1, 6, -1, -1, 7, -1), b2 = m(-1, 5, -1, -1, 6, -1, -1, 7);
  for (size_t x = 0; x < n8; x += 8) {
    if ((x & 15) == 0)
      for (int p = 0; p < 3; ++p) PrefetchAheadOf(planes[p] + x);
    const __m128i r = WordsAvx2(planes[0] + x, lo, f), g = WordsAvx2(planes[1] + x, lo, f),
                  b = WordsAvx2(planes[2] + x, lo, f);
    __m128i* o = reinterpret_cast<__m128i*>(out + 3 * x);
    _mm_storeu_si128(o, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, r0), _mm_shuffle_epi8(g, g0)), _mm_shuffle_epi8(b, b0)));
    _mm_storeu_si128(o + 1, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, r1), _mm_shuffle_epi8(g, g1)), _mm_shuffle_epi8(b, b1)));
    _mm_storeu_si128(o + 2, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, r2), _mm_shuffle_epi8(g, g2)), _mm_shuffle_epi8(b, b2)));
  }
  return n8;
}
#endif

}  // namespace

void WordSamplesOfRow(const float* const* planes, int planeCount, size_t n, double low, double factor,
                      uint16_t* out, bool vector) {
  size_t done = 0;
  bool wide = false;
#if ASTRELON_HAVE_AVX2
  wide = UseAvx2(vector);
  if (wide) done = SamplesAvx2(planes, planeCount, n, low, factor, out);
#endif
#if ASTRELON_HAVE_SSE2
  if (vector && !wide && planeCount == 1) done = GreySse2(planes[0], n, low, factor, out);
#endif
  ScalarSamples(planes, planeCount, done, n, low, factor, out);
}

}  // namespace astrelon
