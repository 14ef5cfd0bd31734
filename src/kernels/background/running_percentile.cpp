#include "kernels/background/running_percentile.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/simd_support.h"
#include "store/image_store.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

void PercentileWindow(int32_t x, int32_t n, int32_t h, int32_t& a, int32_t& b) {
  a = -h;
  b = h;
  if (x - h < 0) {
    b = std::min(h, x + 1 + h / 5);
    a = -x;
  }
  if (x + b >= n) {
    a = std::max({x - h - n + b - h / 5, -h, -x});
    b = n - 1 - x;
  }
}

float WeightedPercentile(const float* centre, ptrdiff_t stride, int32_t a, int32_t b, int32_t step, float c0,
                         const TPercentileWeights& w, double fraction, std::vector<float>& samples) {
  samples.clear();
  for (int32_t d = a; d <= b; d += step) {
    const float v = centre[d * stride];
    if (IsValidPixel(v)) samples.push_back((v - c0) * w[size_t(std::abs(d))] + c0);
  }
  return samples.empty() ? BlankPixel : PercentileSelect(samples, fraction);
}

float RawPercentile(const float* centre, const uint8_t* mask, ptrdiff_t stride, int32_t a, int32_t b, bool open,
                    int32_t step, double fraction, std::vector<float>& samples) {
  samples.clear();
  for (int32_t d = a; d == a || (open ? d < b : d <= b); d += step) {
    const float v = centre[d * stride];
    if (IsValidPixel(v) && (!mask || mask[d * stride] == 0)) samples.push_back(v);
  }
  return samples.empty() ? BlankPixel : PercentileSelect(samples, fraction);
}

namespace {

// The vector path keeps at most this many order statistics per pixel.
constexpr int32_t MaxKept = 32;

// What eight pixels of a run have in common: their window and the place of
// the two order statistics the percentile interpolates between.
struct TRunSelection {
  int32_t Count = 0;  // samples per pixel
  int32_t K = 0;      // the lower one is the K-th smallest (0-based)
  double Fraction = 0;  // of the way from the K-th to the next
  bool Smallest = true;  // keep the K + 2 smallest, else the Count - K largest
  int32_t Kept = 0;
};

#if ASTRELON_HAVE_AVX2
// lo + (hi - lo) * f in double, as Percentile interpolates.
ASTRELON_AVX2 inline __m128 Interpolate(__m128 lo, __m128 hi, __m256d f) {
  const __m256d l = _mm256_cvtps_pd(lo), h = _mm256_cvtps_pd(hi);
  return _mm256_cvtpd_ps(_mm256_add_pd(l, _mm256_mul_pd(_mm256_sub_pd(h, l), f)));
}

// Eight pixels first[0..8): false (nothing written) when a pixel or one of its
// samples is blank. The kept values run through a chain of minimum and
// maximum: a new sample sinks to its place and pushes the rest on, so the
// chain ends up holding the smallest (or largest) values in order.
// Kept: the chain's length when fixed at compile time (the chain then stays
// in registers), 0 for sel.Kept.
template <int32_t Kept>
ASTRELON_AVX2 bool PercentileEight(const float* first, ptrdiff_t stride, int32_t a, int32_t b, int32_t step,
                                   const TPercentileWeights& w, const TRunSelection& sel, float* out) {
  const int32_t chain = Kept > 0 ? Kept : sel.Kept;
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  const __m256 c0 = _mm256_loadu_ps(first);
  __m256 valid = _mm256_cmp_ps(c0, limit, _CMP_GT_OQ);
  __m256 kept[MaxKept];
  const __m256 start = _mm256_set1_ps(sel.Smallest ? std::numeric_limits<float>::infinity()
                                                   : -std::numeric_limits<float>::infinity());
  for (int32_t j = 0; j < chain; ++j) kept[j] = start;
  for (int32_t d = a; d <= b; d += step) {
    const __m256 v = _mm256_loadu_ps(first + d * stride);
    valid = _mm256_and_ps(valid, _mm256_cmp_ps(v, limit, _CMP_GT_OQ));
    __m256 x = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(v, c0), _mm256_set1_ps(w[size_t(std::abs(d))])), c0);
    if (sel.Smallest) {
#pragma GCC unroll 16
      for (int32_t j = 0; j < chain; ++j) {
        const __m256 lo = _mm256_min_ps(kept[j], x);
        x = _mm256_max_ps(kept[j], x);
        kept[j] = lo;
      }
    } else {
#pragma GCC unroll 16
      for (int32_t j = 0; j < chain; ++j) {
        const __m256 hi = _mm256_max_ps(kept[j], x);
        x = _mm256_min_ps(kept[j], x);
        kept[j] = hi;
      }
    }
  }
  if (_mm256_movemask_ps(valid) != 0xFF) return false;
  // The K-th and the (K + 1)-th smallest.
  const __m256 lo = sel.Smallest ? kept[sel.K] : kept[sel.Count - 1 - sel.K];
  const __m256 hi = sel.Smallest ? kept[sel.K + 1] : kept[sel.Count - 2 - sel.K];
  const __m256d f = _mm256_set1_pd(sel.Fraction);
  const __m128 low = Interpolate(_mm256_castps256_ps128(lo), _mm256_castps256_ps128(hi), f);
  const __m128 high = Interpolate(_mm256_extractf128_ps(lo, 1), _mm256_extractf128_ps(hi, 1), f);
  _mm256_storeu_ps(out, _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1));
  return true;
}

// The same sixteen pixels at a time where the processor has AVX-512 (the
// lanes compute as those of PercentileEight).
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value (here and where they are inlined below).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// lo + (hi - lo) * f in double for eight values.
ASTRELON_AVX512 inline __m256 Interpolate8(__m256 lo, __m256 hi, __m512d f) {
  const __m512d l = _mm512_cvtps_pd(lo), h = _mm512_cvtps_pd(hi);
  return _mm512_cvtpd_ps(_mm512_add_pd(l, _mm512_mul_pd(_mm512_sub_pd(h, l), f)));
}

template <int32_t Kept>
ASTRELON_AVX512 bool PercentileSixteen(const float* first, ptrdiff_t stride, int32_t a, int32_t b, int32_t step,
                                       const TPercentileWeights& w, const TRunSelection& sel, float* out) {
  const int32_t chain = Kept > 0 ? Kept : sel.Kept;
  const __m512 limit = _mm512_set1_ps(BlankLimit);
  const __m512 c0 = _mm512_loadu_ps(first);
  __mmask16 valid = _mm512_cmp_ps_mask(c0, limit, _CMP_GT_OQ);
  __m512 kept[MaxKept];
  const __m512 start = _mm512_set1_ps(sel.Smallest ? std::numeric_limits<float>::infinity()
                                                   : -std::numeric_limits<float>::infinity());
  for (int32_t j = 0; j < chain; ++j) kept[j] = start;
  for (int32_t d = a; d <= b; d += step) {
    const __m512 v = _mm512_loadu_ps(first + d * stride);
    valid &= _mm512_cmp_ps_mask(v, limit, _CMP_GT_OQ);
    __m512 x = _mm512_add_ps(_mm512_mul_ps(_mm512_sub_ps(v, c0), _mm512_set1_ps(w[size_t(std::abs(d))])), c0);
    if (sel.Smallest) {
#pragma GCC unroll 16
      for (int32_t j = 0; j < chain; ++j) {
        const __m512 lo = _mm512_min_ps(kept[j], x);
        x = _mm512_max_ps(kept[j], x);
        kept[j] = lo;
      }
    } else {
#pragma GCC unroll 16
      for (int32_t j = 0; j < chain; ++j) {
        const __m512 hi = _mm512_max_ps(kept[j], x);
        x = _mm512_min_ps(kept[j], x);
        kept[j] = hi;
      }
    }
  }
  if (valid != 0xFFFF) return false;
  const __m512 lo = sel.Smallest ? kept[sel.K] : kept[sel.Count - 1 - sel.K];
  const __m512 hi = sel.Smallest ? kept[sel.K + 1] : kept[sel.Count - 2 - sel.K];
  const __m512d f = _mm512_set1_pd(sel.Fraction);
  const __m256 low = Interpolate8(_mm512_castps512_ps256(lo), _mm512_castps512_ps256(hi), f);
  const __m256 high = Interpolate8(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(lo), 1)),
                                   _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(hi), 1)), f);
  _mm256_storeu_ps(out, low);
  _mm256_storeu_ps(out + 8, high);
  return true;
}
#endif

}  // namespace

void WeightedPercentileRun(const float* first, ptrdiff_t stride, int32_t count, int32_t a, int32_t b, int32_t step,
                           const TPercentileWeights& w, double fraction, bool vector, float* out,
                           std::vector<float>& samples) {
  int32_t j = 0;
#if ASTRELON_HAVE_AVX2
  // Percentile's general case: at least two samples and a fraction strictly
  // between 0 and 1 (its other cases are left to the scalar path).
  TRunSelection sel;
  sel.Count = b >= a && step > 0 ? (b - a) / step + 1 : 0;
  if (UseAvx2(vector) && sel.Count >= 2 && fraction > 0.0 && fraction < 1.0 && sel.Count < 512) {
    const double pos = double(sel.Count - 1) * fraction;
    sel.K = std::min<int32_t>(int32_t(pos), sel.Count - 2);
    sel.Fraction = pos - double(sel.K);
    sel.Smallest = sel.K + 2 <= sel.Count - sel.K;
    sel.Kept = sel.Smallest ? sel.K + 2 : sel.Count - sel.K;
    using TEight = bool (*)(const float*, ptrdiff_t, int32_t, int32_t, int32_t, const TPercentileWeights&,
                            const TRunSelection&, float*);
    static constexpr TEight Fixed[] = {PercentileEight<0>, PercentileEight<1>, PercentileEight<2>,
                                       PercentileEight<3>, PercentileEight<4>, PercentileEight<5>,
                                       PercentileEight<6>, PercentileEight<7>, PercentileEight<8>};
    const TEight eight = sel.Kept < 9 ? Fixed[sel.Kept] : PercentileEight<0>;
    static constexpr TEight FixedSixteen[] = {PercentileSixteen<0>, PercentileSixteen<1>, PercentileSixteen<2>,
                                              PercentileSixteen<3>, PercentileSixteen<4>, PercentileSixteen<5>,
                                              PercentileSixteen<6>, PercentileSixteen<7>, PercentileSixteen<8>};
    const TEight sixteen = sel.Kept < 9 ? FixedSixteen[sel.Kept] : PercentileSixteen<0>;
    // Eight at a time, or pixel by pixel where a value is blank.
    const auto eights = [&](int32_t l0, int32_t l1) {
      for (int32_t l = l0; l < l1; l += 8)
        if (!eight(first + l, stride, a, b, step, w, sel, out + l))
          for (int32_t m = l; m < l + 8; ++m)
            out[m] = IsValidPixel(first[m])
                         ? WeightedPercentile(first + m, stride, a, b, step, first[m], w, fraction, samples)
                         : BlankPixel;
    };
    if (sel.Kept <= MaxKept) {
      if (CpuRunsAvx512())
        for (; j + 16 <= count; j += 16)
          if (!sixteen(first + j, stride, a, b, step, w, sel, out + j)) eights(j, j + 16);
      const int32_t end = j + (count - j) / 8 * 8;
      eights(j, end);
      j = end;
    }
  }
#endif
  for (; j < count; ++j)
    out[j] = IsValidPixel(first[j]) ? WeightedPercentile(first + j, stride, a, b, step, first[j], w, fraction, samples)
                                    : BlankPixel;
}

#if ASTRELON_HAVE_AVX2
#pragma GCC diagnostic pop
#endif

}  // namespace astrelon
