#include "batch/accumulate/drizzle_row.h"

#include <cmath>
#include <limits>

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

// (S + D B / A) / expected with A = sum u W_k and B = sum u S_k over the four
// neighbours k (left, right, above, below) with a valid guide, u = 1 / (|G -
// G_k| + n). The weights u are taken as products of the other neighbours'
// distances (the common factor cancels), so one division serves. NaN when A
// is not above 0.
inline double FillShortfall(const float* guide, const float* S, const float* W, size_t i, size_t w, float g,
                            double noise, double ownS, double shortfall, double expected) {
  const size_t l = i - 1, r = i + 1, u = i - w, d = i + w;
  const float gl = guide[l], gr = guide[r], gu = guide[u], gd = guide[d];
  const double dl = std::fabs(double(g) - gl) + noise, dr = std::fabs(double(g) - gr) + noise;
  const double du = std::fabs(double(g) - gu) + noise, dd = std::fabs(double(g) - gd) + noise;
  double A = 0, B = 0;
  const bool all = IsValidPixel(gl) && IsValidPixel(gr) && IsValidPixel(gu) && IsValidPixel(gd);
  if (all) {
    const double plr = dl * dr, pud = du * dd;
    const double cl = dr * pud, cr = dl * pud, cu = plr * dd, cd = plr * du;
    A = cl * W[l] + cr * W[r] + cu * W[u] + cd * W[d];
    B = cl * S[l] + cr * S[r] + cu * S[u] + cd * S[d];
  }
  if (!all || !std::isfinite(A) || !std::isfinite(B)) {
    A = B = 0;
    const size_t k4[4] = {l, r, u, d};
    const double dk[4] = {dl, dr, du, dd};
    for (int k = 0; k < 4; ++k) {
      if (!IsValidPixel(guide[k4[k]])) continue;
      A += W[k4[k]] / dk[k];
      B += S[k4[k]] / dk[k];
    }
  }
  if (!(A > 0)) return std::numeric_limits<double>::quiet_NaN();
  return (ownS * A + shortfall * B) / (A * expected);
}

// The expected weight of pixel i from its neighbours.
inline double Expected(const float* W, size_t i, size_t ws, bool diagonal) {
  const double around = double(W[i - 1]) + W[i + 1] + W[i - ws] + W[i + ws];
  if (!diagonal) return 0.35 * around;
  const double corners = double(W[i - ws - 1]) + W[i - ws + 1] + W[i + ws - 1] + W[i + ws + 1];
  return 0.25 * around + 0.15 * corners;
}

// Pixel i (interior) of the row.
inline float ScalarPixel(const TDrizzleRow& r, size_t i) {
  const size_t ws = size_t(r.Width);
  const double ownW = r.Weight[i], ownS = r.Sum[i];
  const double expected = Expected(r.Weight, i, ws, r.Diagonal);
  const double shortfall = expected - ownW;
  double value = std::numeric_limits<double>::quiet_NaN();
  const float g = r.Guide[i];
  if (shortfall > 0 && IsValidPixel(g))
    value = FillShortfall(r.Guide, r.Sum, r.Weight, i, ws, g, r.Noise, ownS, shortfall, expected);
  // Not filled: the sum over its weight, or the sum as it is.
  if (value != value) value = ownW > 0 ? ownS / ownW : ownS;
  return float(value * r.Scale);
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256d Widen(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }

// Four pixels a step, every operation the scalar loop's in the same order (no
// fused multiply-adds). A step where some pixel needs the fallback sums of
// FillShortfall (an invalid guide around, or sums out of range) goes to the
// scalar loop. Returns where the scalar loop takes over.
ASTRELON_AVX2 int32_t RowAvx2(const TDrizzleRow& r, size_t row, int32_t x0, int32_t x1) {
  const size_t ws = size_t(r.Width);
  const __m256d zero = _mm256_setzero_pd(), blank = _mm256_set1_pd(double(BlankLimit));
  const __m256d noise = _mm256_set1_pd(r.Noise), scale = _mm256_set1_pd(double(r.Scale));
  const __m256d c35 = _mm256_set1_pd(0.35), c25 = _mm256_set1_pd(0.25), c15 = _mm256_set1_pd(0.15);
  const __m256d absMask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m256d infinity = _mm256_set1_pd(std::numeric_limits<double>::infinity());
  const float *S = r.Sum, *W = r.Weight, *G = r.Guide;
  int32_t x = x0;
  for (; x + 4 <= x1; x += 4) {
    const size_t i = row + size_t(x);
    const __m256d ownW = Widen(W + i), ownS = Widen(S + i);
    const __m256d wl = Widen(W + i - 1), wr = Widen(W + i + 1), wu = Widen(W + i - ws), wd = Widen(W + i + ws);
    const __m256d around = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(wl, wr), wu), wd);
    __m256d expected;
    if (r.Diagonal) {
      const __m256d corners = _mm256_add_pd(
          _mm256_add_pd(_mm256_add_pd(Widen(W + i - ws - 1), Widen(W + i - ws + 1)), Widen(W + i + ws - 1)),
          Widen(W + i + ws + 1));
      expected = _mm256_add_pd(_mm256_mul_pd(c25, around), _mm256_mul_pd(c15, corners));
    } else {
      expected = _mm256_mul_pd(c35, around);
    }
    const __m256d shortfall = _mm256_sub_pd(expected, ownW);
    const __m256d g = Widen(G + i);
    const __m256d fill = _mm256_and_pd(_mm256_cmp_pd(shortfall, zero, _CMP_GT_OQ), _mm256_cmp_pd(g, blank, _CMP_GT_OQ));
    __m256d value = _mm256_div_pd(ownS, ownW);
    value = _mm256_blendv_pd(ownS, value, _mm256_cmp_pd(ownW, zero, _CMP_GT_OQ));
    if (_mm256_movemask_pd(fill) != 0) {
      const __m256d gl = Widen(G + i - 1), gr = Widen(G + i + 1), gu = Widen(G + i - ws), gd = Widen(G + i + ws);
      const __m256d all = _mm256_and_pd(
          _mm256_and_pd(_mm256_cmp_pd(gl, blank, _CMP_GT_OQ), _mm256_cmp_pd(gr, blank, _CMP_GT_OQ)),
          _mm256_and_pd(_mm256_cmp_pd(gu, blank, _CMP_GT_OQ), _mm256_cmp_pd(gd, blank, _CMP_GT_OQ)));
      const __m256d dl = _mm256_add_pd(_mm256_and_pd(_mm256_sub_pd(g, gl), absMask), noise);
      const __m256d dr = _mm256_add_pd(_mm256_and_pd(_mm256_sub_pd(g, gr), absMask), noise);
      const __m256d du = _mm256_add_pd(_mm256_and_pd(_mm256_sub_pd(g, gu), absMask), noise);
      const __m256d dd = _mm256_add_pd(_mm256_and_pd(_mm256_sub_pd(g, gd), absMask), noise);
      const __m256d plr = _mm256_mul_pd(dl, dr), pud = _mm256_mul_pd(du, dd);
      const __m256d cl = _mm256_mul_pd(dr, pud), cr = _mm256_mul_pd(dl, pud);
      const __m256d cu = _mm256_mul_pd(plr, dd), cd = _mm256_mul_pd(plr, du);
      const __m256d A = _mm256_add_pd(
          _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cl, wl), _mm256_mul_pd(cr, wr)), _mm256_mul_pd(cu, wu)),
          _mm256_mul_pd(cd, wd));
      const __m256d B = _mm256_add_pd(
          _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(cl, Widen(S + i - 1)), _mm256_mul_pd(cr, Widen(S + i + 1))),
                        _mm256_mul_pd(cu, Widen(S + i - ws))),
          _mm256_mul_pd(cd, Widen(S + i + ws)));
      // Finite: |A| and |B| below infinity (NaN fails too).
      const __m256d finite = _mm256_and_pd(_mm256_cmp_pd(_mm256_and_pd(A, absMask), infinity, _CMP_LT_OQ),
                                           _mm256_cmp_pd(_mm256_and_pd(B, absMask), infinity, _CMP_LT_OQ));
      if (_mm256_movemask_pd(_mm256_andnot_pd(_mm256_and_pd(all, finite), fill)) != 0) break;
      const __m256d filled =
          _mm256_div_pd(_mm256_add_pd(_mm256_mul_pd(ownS, A), _mm256_mul_pd(shortfall, B)), _mm256_mul_pd(A, expected));
      // A not above 0 leaves the pixel unfilled; so does a NaN result.
      const __m256d use = _mm256_and_pd(_mm256_and_pd(fill, _mm256_cmp_pd(A, zero, _CMP_GT_OQ)),
                                        _mm256_cmp_pd(filled, filled, _CMP_ORD_Q));
      value = _mm256_blendv_pd(value, filled, use);
    }
    _mm_storeu_ps(r.Out + i, _mm256_cvtpd_ps(_mm256_mul_pd(value, scale)));
  }
  return x;
}
#endif

}  // namespace

void NormaliseDrizzleRow(const TDrizzleRow& row, int64_t y, int32_t x0, int32_t x1, bool vector) {
  const size_t at = size_t(y) * size_t(row.Width);
  int32_t x = x0;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(vector))
    while (x < x1) {
      x = RowAvx2(row, at, x, x1);
      // A step the vector loop left: its four pixels (or the row's rest) here.
      const int32_t end = std::min(x + 4, x1);
      for (; x < end; ++x) row.Out[at + size_t(x)] = ScalarPixel(row, at + size_t(x));
    }
#endif
  for (; x < x1; ++x) row.Out[at + size_t(x)] = ScalarPixel(row, at + size_t(x));
}

}  // namespace astrelon
