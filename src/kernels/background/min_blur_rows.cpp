#include "kernels/background/min_blur_rows.h"

#include <algorithm>
#include <cmath>

#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon {

namespace {

TPlacedStencil Place(const TMinBlurStencil& s, size_t pitch) {
  TPlacedStencil p{s, {}};
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

// One pixel whose neighbours all lie inside the image.
template <bool Rejecting>
inline float BlurPixel(const float* a, const float* w, size_t i, const TPlacedStencil& p) {
  const float v = w[i];
  if (!IsValidPixel(v)) return BlankPixel;
  double s = 0, wc = 0;
  StartSums<Rejecting>(v, a[i], p.S.Centre, s, wc);
  for (size_t n = 0; n < 8; ++n) {
    const ptrdiff_t j = ptrdiff_t(i) + p.Offset[n];
    if (!Counts<Rejecting>(w[j], a[j])) continue;
    s += w[j] * p.S.Weight[n];
    wc += p.S.Weight[n];
  }
  return wc > 0 ? float(s / wc) : BlankPixel;
}

// One pixel on the image's border: only the neighbours whose opposite
// neighbour lies inside too count, so the window stays centred (the pair
// along the edge; none in a corner).
template <bool Rejecting>
inline float BlurBorderPixel(const TStepRows& a, const TStepRows& w, int32_t x, int32_t y, int32_t width,
                             int32_t height, const TMinBlurStencil& st) {
  const float v = w.Row(y)[x];
  if (!IsValidPixel(v)) return BlankPixel;
  double s = 0, wc = 0;
  StartSums<Rejecting>(v, a.Row(y)[x], st.Centre, s, wc);
  for (size_t n = 0; n < 8; ++n) {
    const int64_t xn = int64_t(x) + st.Dx[n], yn = int64_t(y) + st.Dy[n];
    const int64_t xo = int64_t(x) - st.Dx[n], yo = int64_t(y) - st.Dy[n];
    if (std::min(xn, xo) < 0 || std::max(xn, xo) >= width || std::min(yn, yo) < 0 || std::max(yn, yo) >= height)
      continue;
    const float u = w.Row(int32_t(yn))[xn];
    if (!Counts<Rejecting>(u, a.Row(int32_t(yn))[xn])) continue;
    s += u * st.Weight[n];
    wc += st.Weight[n];
  }
  return wc > 0 ? float(s / wc) : BlankPixel;
}

template <bool Rejecting>
void BlurRunScalar(const float* a, const float* w, float* out, size_t first, size_t last, const TPlacedStencil& p) {
  for (size_t i = first; i < last; ++i) out[i] = BlurPixel<Rejecting>(a, w, i, p);
}

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
// as 0).
template <bool Rejecting>
ASTRELON_AVX2 inline void BlurFour(const float* a, const float* w, float* out, size_t i, __m256d centre,
                                   const __m256d* weights, const ptrdiff_t* offsets) {
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
#pragma GCC unroll 8
  for (size_t n = 0; n < 8; ++n) {
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
  __m256d weights[8];
  ptrdiff_t offsets[8];  // local, so that the stores to `out` do not make them reload
  for (size_t n = 0; n < 8; ++n) {
    weights[n] = _mm256_set1_pd(p.S.Weight[n]);
    offsets[n] = p.Offset[n];
  }
  const __m256d centre = _mm256_set1_pd(p.S.Centre);
  size_t i = first;
  for (; i + 4 <= last; i += 4) BlurFour<Rejecting>(a, w, out, i, centre, weights, offsets);
  BlurRunScalar<Rejecting>(a, w, out, i, last, p);
}

// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// Eight pixels at i..i+7 where the processor has AVX-512: each lane adds in
// the scalar order, the masks choosing which lanes add, as the blends do
// above. `lanes` gives neighbour n of the eight pixels in both planes, its
// weights and the centre's. A neighbour counts in a rejecting step when its
// reference is valid and it is not below it (which makes it valid too).
template <bool Rejecting, class Lanes, int Groups = 1>
ASTRELON_AVX512 inline void BlurEight(const float* a, const float* w, float* out, size_t i, const Lanes& lanes) {
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
    s[g] = _mm512_mul_pd(v, lanes.Centre(g));
    wc[g] = lanes.CentreWeight(g);
    if (Rejecting) {
      const __mmask8 below = _mm256_cmp_ps_mask(vf[g], _mm256_loadu_ps(a + j), _CMP_LT_OQ);
      wc[g] = _mm512_mask_mov_pd(wc[g], below, _mm512_set1_pd(1.0));
      s[g] = _mm512_mask_mov_pd(s[g], below, v);
    }
  }
#pragma GCC unroll 8
  for (size_t n = 0; n < 8; ++n) {
    // The neighbours on the axes weigh exactly 1: their product is the value.
    const bool axial = n == 1 || n == 3 || n == 4 || n == 6;
#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g) {
      const __m512d weight = lanes.Weight(n, g);
      const __m256 uf = lanes.Load(w, i, n, g);
      __mmask8 counts;
      if (Rejecting) {
        const __m256 au = lanes.Load(a, i, n, g);
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

// All eight pixels in one window: neighbours are plain loads.
struct TUniformEight {
  __m512d CentreValue, CentreWeightValue, Weights[8];
  ptrdiff_t Offset[8];  // local, so that the stores to `out` do not make them reload
  ASTRELON_AVX512 explicit TUniformEight(const TPlacedStencil& p)
      : CentreValue(_mm512_set1_pd(p.S.Centre)), CentreWeightValue(_mm512_set1_pd(std::fabs(p.S.Centre))) {
    for (size_t n = 0; n < 8; ++n) {
      Weights[n] = _mm512_set1_pd(p.S.Weight[n]);
      Offset[n] = p.Offset[n];
    }
  }
  ASTRELON_AVX512 __m256 Load(const float* plane, size_t i, size_t n, int g) const {
    return _mm256_loadu_ps(plane + ptrdiff_t(i) + 8 * g + Offset[n]);
  }
  ASTRELON_AVX512 __m512d Weight(size_t n, int) const { return Weights[n]; }
  ASTRELON_AVX512 __m512d Centre(int) const { return CentreValue; }
  ASTRELON_AVX512 __m512d CentreWeight(int) const { return CentreWeightValue; }
};

// Two runs of four pixels side by side, each in its own window (near the
// image's edges, where the windows change every four columns), prepared once
// per class of rows.
// Group g of the eight pixels takes P[g].
template <int Groups>
struct TPairedEight {
  const TPairLanes* P[Groups];
  ASTRELON_AVX512 __m256 Load(const float* plane, size_t i, size_t n, int g) const {
    const float* at = plane + ptrdiff_t(i) + 8 * g;
    return _mm256_loadu2_m128(at + P[g]->High[n], at + P[g]->Low[n]);
  }
  ASTRELON_AVX512 __m512d Weight(size_t n, int g) const { return _mm512_load_pd(P[g]->Weights[n]); }
  ASTRELON_AVX512 __m512d Centre(int g) const { return _mm512_load_pd(P[g]->Centre); }
  ASTRELON_AVX512 __m512d CentreWeight(int g) const { return _mm512_load_pd(P[g]->CentreWeight); }
};

template <bool Rejecting>
ASTRELON_AVX512 void BlurRunAvx512(const float* a, const float* w, float* out, size_t first, size_t last,
                                   const TPlacedStencil& p) {
  const TUniformEight lanes(p);
  size_t i = first;
  for (; i + 16 <= last; i += 16) BlurEight<Rejecting, TUniformEight, 2>(a, w, out, i, lanes);
  for (; i + 8 <= last; i += 8) BlurEight<Rejecting>(a, w, out, i, lanes);
  BlurRunAvx2<Rejecting>(a, w, out, i, last, p);
}

// One pair of runs of four at i, or two pairs at i and i + 8 (q not null).
template <bool Rejecting>
ASTRELON_AVX512 void BlurPairAvx512(const float* a, const float* w, float* out, size_t i, const TPairLanes& p,
                                    const TPairLanes* q) {
  if (q)
    BlurEight<Rejecting, TPairedEight<2>, 2>(a, w, out, i, TPairedEight<2>{{&p, q}});
  else
    BlurEight<Rejecting>(a, w, out, i, TPairedEight<1>{{&p}});
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

// Two runs of four at once (only where UsePairs).
template <bool Rejecting>
void BlurPair(const float* a, const float* w, float* out, size_t i, const TPairLanes& p, const TPairLanes* q) {
#if ASTRELON_HAVE_AVX2
  BlurPairAvx512<Rejecting>(a, w, out, i, p, q);
#else
  (void)a, (void)w, (void)out, (void)i, (void)p, (void)q;
#endif
}

// Whether two runs of four in different windows go at once (BlurPair).
bool UsePairs(bool avx2) {
#if ASTRELON_HAVE_AVX2
  return avx2 && CpuRunsAvx512();
#else
  (void)avx2;
  return false;
#endif
}

TPairLanes PairLanes(const TPlacedStencil& p, const TPlacedStencil& q) {
  TPairLanes lanes;
  for (size_t k = 0; k < 8; ++k) {
    const TPlacedStencil& half = k < 4 ? p : q;
    for (size_t n = 0; n < 8; ++n) lanes.Weights[n][k] = half.S.Weight[n];
    lanes.Centre[k] = half.S.Centre;
    lanes.CentreWeight[k] = std::fabs(half.S.Centre);
  }
  for (size_t n = 0; n < 8; ++n) {
    lanes.Low[n] = p.Offset[n];
    lanes.High[n] = q.Offset[n] + 4;
  }
  return lanes;
}

template <bool Rejecting>
void BlurPieces(const float* a, const float* w, float* out, const std::vector<TRowPiece>& pieces,
                const std::vector<TPlacedStencil>& group, const TPlacedStencil& middle,
                const std::vector<TPairLanes>& pairLanes, bool avx2, const auto& border) {
  for (size_t k = 0; k < pieces.size(); ++k) {
    const TRowPiece& piece = pieces[k];
    const size_t x = size_t(piece.X);
    switch (piece.Kind) {
      case TRowPiece::TKind::Border:
        border(piece.X);
        break;
      case TRowPiece::TKind::Run:
        BlurRun<Rejecting>(a, w, out, x, x + size_t(piece.Length),
                           piece.Window < 0 ? middle : group[size_t(piece.Window)], avx2);
        break;
      case TRowPiece::TKind::Pair:
        // Two pairs side by side at once where they follow each other.
        if (k + 1 < pieces.size() && pieces[k + 1].Kind == TRowPiece::TKind::Pair &&
            pieces[k + 1].X == piece.X + 8) {
          BlurPair<Rejecting>(a, w, out, x, pairLanes[size_t(piece.Pair)], &pairLanes[size_t(pieces[k + 1].Pair)]);
          ++k;
        } else {
          BlurPair<Rejecting>(a, w, out, x, pairLanes[size_t(piece.Pair)], nullptr);
        }
        break;
    }
  }
}

}  // namespace

TRowWindows::TRowWindows(const TStepWindows& step, int32_t width, size_t pitch, bool avx2)
    : step_(step), width_(width), pitch_(pitch), avx2_(avx2), pairs_(UsePairs(avx2)) {
  // Every pixel in its own window (TStepWindows): the border pixels with only
  // the pairs inside, the others in runs of one window; near the edges, where
  // the window changes every four columns, two runs of four at once.
  const int32_t inner = step.Inner();
  const auto edge = [&](int32_t x) { return std::min(x, width - 1 - x); };
  // The run of one window from column x (x not on the border): its end and window.
  const auto run = [&](int32_t x, int32_t& end) {
    const int32_t ex = edge(x);
    if (ex >= inner) {
      end = width - inner;  // the middle of the row
      return -1;
    }
    end = x + 1;
    while (end < width && edge(end) > 0 && edge(end) < inner && edge(end) / 4 == ex / 4) ++end;
    return ex / 4;
  };
  int32_t x = 0, pairCount = 0;
  while (x < width) {
    if (edge(x) == 0) {
      pieces_.push_back({TRowPiece::TKind::Border, x, 1, 0, 0, 0});
      ++x;
      continue;
    }
    int32_t end = x;
    const int32_t own = run(x, end);
    if (pairs_ && end - x == 4 && end < width && edge(end) > 0) {
      int32_t next = end;
      const int32_t second = run(end, next);
      if (next - end == 4) {
        pieces_.push_back({TRowPiece::TKind::Pair, x, 8, own, second, pairCount++});
        x = next;
        continue;
      }
    }
    pieces_.push_back({TRowPiece::TKind::Run, x, end - x, own, 0, 0});
    x = end;
  }
  pairLanes_.resize(size_t(pairCount));
}

void TRowWindows::For(int32_t ey) {
  const TStepWindows& t = step_;
  const int32_t inner = t.Inner(), rowClass = std::min(ey & ~int32_t(3), inner);
  if (rowClass == class_) return;
  class_ = rowClass;
  const int32_t v = t.Vertical(ey);
  group_.resize(size_t(inner / 4) + 1);
  for (int32_t g = 0; 4 * g < inner; ++g) {
    const int32_t ex = std::max(4 * g, 1);
    group_[size_t(g)] = Place(t.Window(t.Horizontal(ex), v, t.Diagonal(ex, ey)), pitch_);
  }
  middle_ = Place(t.Window(t.Reach(), v, t.Diagonal(inner, ey)), pitch_);
  for (const TRowPiece& piece : pieces_)
    if (piece.Kind == TRowPiece::TKind::Pair)
      pairLanes_[size_t(piece.Pair)] = PairLanes(group_[size_t(piece.Window)], group_[size_t(piece.Second)]);
}

void TRowWindows::Blur(const TStepRows& a, const TStepRows& w, float* out, int32_t y, int32_t height) {
  const TStepWindows& t = step_;
  const int32_t width = width_, ey = std::min(y, height - 1 - y);
  const auto border = [&](int32_t x) {
    const int32_t ex = std::min(x, width - 1 - x);
    const TMinBlurStencil s = t.Window(t.Horizontal(ex), t.Vertical(ey), t.Diagonal(ex, ey));
    out[x] = t.Rejecting() ? BlurBorderPixel<true>(a, w, x, y, width, height, s)
                           : BlurBorderPixel<false>(a, w, x, y, width, height, s);
  };
  if (ey == 0) {
    for (int32_t x = 0; x < width; ++x) border(x);
    return;
  }
  For(ey);
  if (t.Rejecting())
    BlurPieces<true>(a.Row(y), w.Row(y), out, pieces_, group_, middle_, pairLanes_, avx2_, border);
  else
    BlurPieces<false>(a.Row(y), w.Row(y), out, pieces_, group_, middle_, pairLanes_, avx2_, border);
}

}  // namespace astrelon
