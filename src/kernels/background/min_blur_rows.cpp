#include "kernels/background/min_blur_rows.h"

#include <algorithm>
#include <cmath>

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

TPlacedStencil Place(const TMinBlurStencil& s, size_t pitch, const std::array<bool, 8>& inside) {
  TPlacedStencil p{s, {}, inside};
  for (size_t n = 0; n < 8; ++n) p.Offset[n] = ptrdiff_t(s.Dy[n]) * ptrdiff_t(pitch) + s.Dx[n];
  return p;
}

// The start of one pixel's sums: the centre, or weight 1 alone for a pixel
// below its reference in a rejecting step.
template <bool Rejecting>
inline void StartSums(float v, float reference, double centre, double& s, double& wc) {
  wc = centre;
  s = v * wc;
  wc = std::fabs(wc);
  if (Rejecting && v < reference) {
    wc = 1;
    s = v;
  }
}

template <bool Rejecting>
inline bool Counts(float u, float reference) {
  if (!IsValidPixel(u)) return false;
  return !Rejecting || (IsValidPixel(reference) && !(u < reference));
}

// The kernels below read the pixel i of a row and its neighbours at offsets
// from it in the reference rows `a` and the work rows `w` (both the row's
// first pixel, rows equally far apart) and write pixel i of `out`.

// One pixel; the neighbours outside the image are left out.
template <bool Rejecting>
inline float BlurPixel(const float* a, const float* w, size_t i, const TPlacedStencil& p) {
  const float v = w[i];
  if (!IsValidPixel(v)) return BlankPixel;
  double s = 0, wc = 0;
  StartSums<Rejecting>(v, a[i], p.S.Centre, s, wc);
  for (size_t n = 0; n < 8; ++n) {
    if (!p.Inside[n]) continue;
    const ptrdiff_t j = ptrdiff_t(i) + p.Offset[n];
    if (!Counts<Rejecting>(w[j], a[j])) continue;
    s += w[j] * p.S.Weight[n];
    wc += p.S.Weight[n];
  }
  return wc > 0 ? float(s / wc) : BlankPixel;
}

template <bool Rejecting>
void BlurRunScalar(const float* a, const float* w, float* out, size_t first, size_t last, const TPlacedStencil& p) {
  for (size_t i = first; i < last; ++i) out[i] = BlurPixel<Rejecting>(a, w, i, p);
}

// The neighbours of a window that lie inside, in the window's order, as the
// vector paths take them: a neighbour left out adds nothing, as in the scalar
// path.
struct TInsideNeighbours {
  size_t Count = 0;
  ptrdiff_t Offset[8] = {};
  double Weight[8] = {};
  bool Axial[8] = {};  // weight exactly 1
  explicit TInsideNeighbours(const TPlacedStencil& p) {
    for (size_t n = 0; n < 8; ++n)
      if (p.Inside[n]) {
        Offset[Count] = p.Offset[n];
        Weight[Count] = p.S.Weight[n];
        Axial[Count] = n == 1 || n == 3 || n == 4 || n == 6;
        ++Count;
      }
  }
};

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 inline __m256d Widen(__m128 mask) {
  return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(_mm_castps_si128(mask)));
}
ASTRELON_AVX2 inline __m128 Narrow(__m256d mask) {
  const __m256i low = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(mask), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
  return _mm_castsi128_ps(_mm256_castsi256_si128(low));
}

// Four pixels at i..i+3, each lane adding in the scalar order; a neighbour
// that does not count leaves the lane's sums as they were (blended, not added
// as 0). N: the count of neighbours inside when all eight (fixed, so that the
// loop unrolls), 0 for `count`.
template <bool Rejecting, size_t N>
ASTRELON_AVX2 inline void BlurFour(const float* a, const float* w, float* out, size_t i, __m256d centre,
                                   const __m256d* weights, const ptrdiff_t* offsets, size_t count) {
  const __m128 limit = _mm_set1_ps(BlankLimit);
  const __m128 vf = _mm_loadu_ps(w + i);
  const __m256d v = _mm256_cvtps_pd(vf);
  __m256d s = _mm256_mul_pd(v, centre);
  __m256d wc = _mm256_andnot_pd(_mm256_set1_pd(-0.0), centre);
  if (Rejecting) {
    const __m256d below = Widen(_mm_cmplt_ps(vf, _mm_loadu_ps(a + i)));
    wc = _mm256_blendv_pd(wc, _mm256_set1_pd(1.0), below);
    s = _mm256_blendv_pd(s, v, below);
  }
  const size_t neighbours = N > 0 ? N : count;
#pragma GCC unroll 8
  for (size_t n = 0; n < neighbours; ++n) {
    const __m128 uf = _mm_loadu_ps(w + ptrdiff_t(i) + offsets[n]);
    __m128 counts = _mm_cmpgt_ps(uf, limit);
    if (Rejecting) {
      const __m128 au = _mm_loadu_ps(a + ptrdiff_t(i) + offsets[n]);
      counts = _mm_and_ps(counts, _mm_and_ps(_mm_cmpgt_ps(au, limit), _mm_cmpge_ps(uf, au)));
    }
    const __m256d c = Widen(counts);
    s = _mm256_blendv_pd(s, _mm256_add_pd(s, _mm256_mul_pd(_mm256_cvtps_pd(uf), weights[n])), c);
    wc = _mm256_blendv_pd(wc, _mm256_add_pd(wc, weights[n]), c);
  }
  const __m128 result = _mm256_cvtpd_ps(_mm256_div_pd(s, wc));
  const __m128 keep =
      _mm_and_ps(_mm_cmpgt_ps(vf, limit), Narrow(_mm256_cmp_pd(wc, _mm256_setzero_pd(), _CMP_GT_OQ)));
  _mm_storeu_ps(out + i, _mm_blendv_ps(_mm_set1_ps(BlankPixel), result, keep));
}

template <bool Rejecting>
ASTRELON_AVX2 void BlurRunAvx2(const float* a, const float* w, float* out, size_t first, size_t last,
                               const TPlacedStencil& p) {
  const TInsideNeighbours inside(p);
  __m256d weights[8];
  ptrdiff_t offsets[8];  // local, so that the stores to `out` do not make them reload
  for (size_t n = 0; n < 8; ++n) {
    weights[n] = _mm256_set1_pd(inside.Weight[n]);
    offsets[n] = inside.Offset[n];
  }
  const __m256d centre = _mm256_set1_pd(p.S.Centre);
  size_t i = first;
  if (inside.Count == 8)
    for (; i + 4 <= last; i += 4) BlurFour<Rejecting, 8>(a, w, out, i, centre, weights, offsets, 8);
  else
    for (; i + 4 <= last; i += 4) BlurFour<Rejecting, 0>(a, w, out, i, centre, weights, offsets, inside.Count);
  BlurRunScalar<Rejecting>(a, w, out, i, last, p);
}

// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// The neighbours inside as eight-lane constants.
struct TEightLanes {
  __m512d Centre, CentreWeight, Weights[8];
  ptrdiff_t Offset[8];  // local, so that the stores to `out` do not make them reload
  bool Axial[8];
  size_t Count;
  ASTRELON_AVX512 TEightLanes(const TPlacedStencil& p, const TInsideNeighbours& inside)
      : Centre(_mm512_set1_pd(p.S.Centre)), CentreWeight(_mm512_set1_pd(std::fabs(p.S.Centre))),
        Count(inside.Count) {
    for (size_t n = 0; n < 8; ++n) {
      Weights[n] = _mm512_set1_pd(inside.Weight[n]);
      Offset[n] = inside.Offset[n];
      Axial[n] = inside.Axial[n];
    }
  }
};

// Eight pixels at i..i+7 where the processor has AVX-512: each lane adds in
// the scalar order, the masks choosing which lanes add, as the blends do
// above. A neighbour counts in a rejecting step when its reference is valid
// and it is not below it (which makes it valid too). N as in BlurFour.
template <bool Rejecting, size_t N, int Groups = 1>
ASTRELON_AVX512 inline void BlurEight(const float* a, const float* w, float* out, size_t i, const TEightLanes& lanes) {
  // Groups of eight side by side (i, i + 8, ...) interleaved: their sums are
  // independent chains.
  const __m256 limit = _mm256_set1_ps(BlankLimit);
  __m256 vf[Groups];
  __m512d s[Groups], wc[Groups];
#pragma GCC unroll 4
  for (int g = 0; g < Groups; ++g) {
    const size_t j = i + size_t(8 * g);
    vf[g] = _mm256_loadu_ps(w + j);
    const __m512d v = _mm512_cvtps_pd(vf[g]);
    s[g] = _mm512_mul_pd(v, lanes.Centre);
    wc[g] = lanes.CentreWeight;
    if (Rejecting) {
      const __mmask8 below = _mm256_cmp_ps_mask(vf[g], _mm256_loadu_ps(a + j), _CMP_LT_OQ);
      wc[g] = _mm512_mask_mov_pd(wc[g], below, _mm512_set1_pd(1.0));
      s[g] = _mm512_mask_mov_pd(s[g], below, v);
    }
  }
  const size_t neighbours = N > 0 ? N : lanes.Count;
#pragma GCC unroll 8
  for (size_t n = 0; n < neighbours; ++n) {
    // The neighbours on the axes weigh exactly 1: their product is the value.
    const bool axial = N == 8 ? n == 1 || n == 3 || n == 4 || n == 6 : lanes.Axial[n];
    const __m512d weight = lanes.Weights[n];
#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g) {
      const ptrdiff_t at = ptrdiff_t(i) + 8 * g + lanes.Offset[n];
      const __m256 uf = _mm256_loadu_ps(w + at);
      __mmask8 counts;
      if (Rejecting) {
        const __m256 au = _mm256_loadu_ps(a + at);
        counts = _mm256_cmp_ps_mask(au, limit, _CMP_GT_OQ) & _mm256_cmp_ps_mask(uf, au, _CMP_GE_OQ);
      } else {
        counts = _mm256_cmp_ps_mask(uf, limit, _CMP_GT_OQ);
      }
      const __m512d u = _mm512_cvtps_pd(uf);
      s[g] = _mm512_mask_add_pd(s[g], counts, s[g], axial ? u : _mm512_mul_pd(u, weight));
      wc[g] = _mm512_mask_add_pd(wc[g], counts, wc[g], weight);
    }
  }
#pragma GCC unroll 4
  for (int g = 0; g < Groups; ++g) {
    const __m256 result = _mm512_cvtpd_ps(_mm512_div_pd(s[g], wc[g]));
    const __mmask8 keep = _mm256_cmp_ps_mask(vf[g], limit, _CMP_GT_OQ) &
                          _mm512_cmp_pd_mask(wc[g], _mm512_setzero_pd(), _CMP_GT_OQ);
    _mm256_storeu_ps(out + i + size_t(8 * g), _mm256_mask_blend_ps(keep, _mm256_set1_ps(BlankPixel), result));
  }
}

template <bool Rejecting, size_t N>
ASTRELON_AVX512 size_t BlurEights(const float* a, const float* w, float* out, size_t first, size_t last,
                                  const TEightLanes& lanes) {
  size_t i = first;
  for (; i + 16 <= last; i += 16) BlurEight<Rejecting, N, 2>(a, w, out, i, lanes);
  for (; i + 8 <= last; i += 8) BlurEight<Rejecting, N>(a, w, out, i, lanes);
  return i;
}

template <bool Rejecting>
ASTRELON_AVX512 void BlurRunAvx512(const float* a, const float* w, float* out, size_t first, size_t last,
                                   const TPlacedStencil& p) {
  const TInsideNeighbours inside(p);
  const TEightLanes lanes(p, inside);
  const size_t i = inside.Count == 8 ? BlurEights<Rejecting, 8>(a, w, out, first, last, lanes)
                                     : BlurEights<Rejecting, 0>(a, w, out, first, last, lanes);
  BlurRunAvx2<Rejecting>(a, w, out, i, last, p);
}
#pragma GCC diagnostic pop

#endif

template <bool Rejecting>
void BlurRun(const float* a, const float* w, float* out, size_t first, size_t last, const TPlacedStencil& p,
             bool avx2) {
#if ASTRELON_HAVE_AVX2
  if (avx2) {
    if (CpuRunsAvx512())
      BlurRunAvx512<Rejecting>(a, w, out, first, last, p);
    else
      BlurRunAvx2<Rejecting>(a, w, out, first, last, p);
    return;
  }
#endif
  BlurRunScalar<Rejecting>(a, w, out, first, last, p);
}

}  // namespace

TRowWindows::TRowWindows(const TMinBlurStencil& stencil, bool rejecting, int32_t width, int32_t height, size_t pitch,
                         bool avx2)
    : stencil_(stencil), rejecting_(rejecting), width_(width), height_(height), pitch_(pitch), avx2_(avx2) {}

void TRowWindows::For(int32_t y) {
  const TMinBlurStencil& s = stencil_;
  int32_t rowClass = 0;
  for (size_t n = 0; n < 8; ++n)
    if (y + s.Dy[n] >= 0 && y + s.Dy[n] < height_) rowClass |= 1 << n;
  if (rowClass == class_) return;
  class_ = rowClass;
  // The columns where a neighbour's column enters or leaves the image.
  std::vector<int32_t> cuts{0, width_};
  for (size_t n = 0; n < 8; ++n)
    for (const int32_t x : {-s.Dx[n], width_ - s.Dx[n]}) cuts.push_back(std::clamp(x, 0, width_));
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  runs_.clear();
  for (size_t c = 0; c + 1 < cuts.size(); ++c) {
    const int32_t x0 = cuts[c], x1 = cuts[c + 1];
    std::array<bool, 8> inside{};
    for (size_t n = 0; n < 8; ++n)
      inside[n] = (rowClass >> n & 1) != 0 && x0 + s.Dx[n] >= 0 && x0 + s.Dx[n] < width_;
    runs_.push_back({x0, x1, Place(s, pitch_, inside)});
  }
}

void TRowWindows::Blur(const TStepRows& a, const TStepRows& w, float* out, int32_t y) {
  For(y);
  const float* ar = a.Row(y);
  const float* wr = w.Row(y);
  for (const TRowRun& run : runs_) {
    if (rejecting_)
      BlurRun<true>(ar, wr, out, size_t(run.X0), size_t(run.X1), run.P, avx2_);
    else
      BlurRun<false>(ar, wr, out, size_t(run.X0), size_t(run.X1), run.P, avx2_);
  }
}

}  // namespace astrelon
