#include "kernels/background/min_blur_step.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

constexpr double Sin45 = 0.70710678118654752440;

// A stencil with its neighbours as index offsets in a plane of the given width.
struct TPlacedStencil {
  TMinBlurStencil S;
  std::array<ptrdiff_t, 8> Offset{};
};

TPlacedStencil Place(const TMinBlurStencil& s, int32_t width) {
  TPlacedStencil p{s, {}};
  for (size_t n = 0; n < 8; ++n) p.Offset[n] = ptrdiff_t(s.Dy[n]) * width + s.Dx[n];
  return p;
}

// The reach of a pair of opposite neighbours whose nearer end lies e pixels
// from the edge it points to, in a step of reach r: e rounded down to a
// multiple of four, at least 1, at most r. Four neighbouring pixels so share
// one window, and the pair stays centred. On the border (e = 0) the pair at
// reach 1 leaves the image and does not count.
constexpr int32_t CentredReach(int32_t e, int32_t r) { return std::min(r, std::max(1, e & ~int32_t(3))); }

// The windows of one step of reach r. A pixel's window keeps every pair of
// opposite neighbours at the full reach where both ends lie inside the image;
// only a pair that would leave it shrinks (CentredReach of the distance to the
// edge along that pair's direction, for the diagonals of the distance to the
// nearer edge). So a pixel near the top edge still reaches r to the left and
// right, and a star near an edge is eaten by neighbours along the edge.
class TStepWindows {
public:
  TStepWindows(int32_t reach, int32_t deepest, float scale) : reach_(reach), full_(size_t(reach) + 1) {
    for (int32_t l = 1; l <= reach; ++l) full_[size_t(l)] = MinBlurStencil(l, scale);
    // The diagonal pair at distance m: the largest reach whose diagonal step
    // k fits into CentredReach(m).
    diagonal_.assign(size_t(std::max(deepest, 1)) + 1, 1);
    int32_t l = 1;
    for (int32_t m = 1; m < int32_t(diagonal_.size()); ++m) {
      const int32_t room = CentredReach(m, reach);
      while (l < reach && full_[size_t(l) + 1].K <= room) ++l;
      diagonal_[size_t(m)] = l;
    }
  }
  int32_t Reach() const { return reach_; }
  // From this distance to the left and right edges on, the pixels of a row
  // share one window: the horizontal pair at full reach, the diagonals as far
  // as the row allows.
  int32_t Inner() const { return reach_ == 1 ? 1 : (reach_ + 3) & ~int32_t(3); }
  // The pairs' reaches of a pixel ex and ey pixels from the nearer edges.
  int32_t Horizontal(int32_t ex) const { return CentredReach(ex, reach_); }
  int32_t Vertical(int32_t ey) const { return CentredReach(ey, reach_); }
  int32_t Diagonal(int32_t ex, int32_t ey) const {
    return diagonal_[size_t(std::min({ex, ey, int32_t(diagonal_.size()) - 1}))];
  }
  // The window with its pairs at reaches h, v and d; the centre weighs as in the full window.
  TMinBlurStencil Window(int32_t h, int32_t v, int32_t d) const {
    TMinBlurStencil s = full_[size_t(d)];
    s.Reach = reach_;
    s.Centre = full_[size_t(reach_)].Centre;
    s.Dx[3] = -h;
    s.Dx[4] = h;
    s.Dy[1] = -v;
    s.Dy[6] = v;
    return s;
  }

private:
  int32_t reach_;
  std::vector<TMinBlurStencil> full_;  // indexed by reach 1..reach_
  std::vector<int32_t> diagonal_;      // indexed by the distance to the nearer edge
};

// The placed windows of one class of rows, kept while a thread runs down its
// rows: the rows ey pixels from the top or bottom edge share them when ey
// rounds down to the same multiple of four, and so do all rows deeper than
// the step's Inner(). Group g holds the window of the columns 4 g .. 4 g + 3
// from the left or right edge (1 .. 3 for g = 0), `Middle` that of the rest.
struct TRowWindows {
  int32_t Class = -1;
  std::vector<TPlacedStencil> Group;
  TPlacedStencil Middle;

  void For(const TStepWindows& t, int32_t ey, int32_t width) {
    const int32_t inner = t.Inner(), rowClass = std::min(ey & ~int32_t(3), inner);
    if (rowClass == Class) return;
    Class = rowClass;
    const int32_t v = t.Vertical(ey);
    Group.resize(size_t(inner / 4) + 1);
    for (int32_t g = 0; 4 * g < inner; ++g) {
      const int32_t ex = std::max(4 * g, 1);
      Group[size_t(g)] = Place(t.Window(t.Horizontal(ex), v, t.Diagonal(ex, ey)), width);
    }
    Middle = Place(t.Window(t.Reach(), v, t.Diagonal(inner, ey)), width);
  }
};

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

// One pixel whose neighbours all lie inside the plane.
template <bool Rejecting>
inline float BlurPixel(const float* a, const float* w, size_t i, const TPlacedStencil& p) {
  const float v = w[i];
  if (!IsValidPixel(v)) return BlankPixel;
  double s = 0, wc = 0;
  StartSums<Rejecting>(v, a[i], p.S.Centre, s, wc);
  for (size_t n = 0; n < 8; ++n) {
    const size_t j = size_t(ptrdiff_t(i) + p.Offset[n]);
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
inline float BlurBorderPixel(const float* a, const float* w, int32_t x, int32_t y, int32_t width, int32_t height,
                             const TMinBlurStencil& st) {
  const size_t i = size_t(y) * size_t(width) + size_t(x);
  const float v = w[i];
  if (!IsValidPixel(v)) return BlankPixel;
  double s = 0, wc = 0;
  StartSums<Rejecting>(v, a[i], st.Centre, s, wc);
  for (size_t n = 0; n < 8; ++n) {
    const int64_t xn = int64_t(x) + st.Dx[n], yn = int64_t(y) + st.Dy[n];
    const int64_t xo = int64_t(x) - st.Dx[n], yo = int64_t(y) - st.Dy[n];
    if (std::min(xn, xo) < 0 || std::max(xn, xo) >= width || std::min(yn, yo) < 0 || std::max(yn, yo) >= height)
      continue;
    const size_t j = size_t(yn) * size_t(width) + size_t(xn);
    if (!Counts<Rejecting>(w[j], a[j])) continue;
    s += w[j] * st.Weight[n];
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
// as 0). `lanes` gives neighbour n of the four pixels in both planes and its
// weights.
template <bool Rejecting, class Lanes>
ASTRELON_AVX2 inline void BlurFour(const float* a, const float* w, float* out, size_t i, __m256d centre,
                                   const Lanes& lanes) {
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
    const __m128 uf = lanes.Load(w, i, n);
    __m128 counts = _mm_cmpgt_ps(uf, limit);
    if (Rejecting) {
      const __m128 au = lanes.Load(a, i, n);
      counts = _mm_and_ps(counts, _mm_and_ps(_mm_cmpgt_ps(au, limit), _mm_cmpge_ps(uf, au)));
    }
    const __m256d c = Widen(counts);
    const __m256d weight = lanes.Weight(n);
    s = _mm256_blendv_pd(s, _mm256_add_pd(s, _mm256_mul_pd(_mm256_cvtps_pd(uf), weight)), c);
    wc = _mm256_blendv_pd(wc, _mm256_add_pd(wc, weight), c);
  }
  const __m128 result = _mm256_cvtpd_ps(_mm256_div_pd(s, wc));
  const __m128 keep =
      _mm_and_ps(_mm_cmpgt_ps(vf, limit), Narrow(_mm256_cmp_pd(wc, _mm256_setzero_pd(), _CMP_GT_OQ)));
  _mm_storeu_ps(out + i, _mm_blendv_ps(_mm_set1_ps(BlankPixel), result, keep));
}

// All four pixels at one reach: neighbours are plain loads.
struct TUniformLanes {
  const TPlacedStencil* P;
  __m256d Weights[8];
  ASTRELON_AVX2 explicit TUniformLanes(const TPlacedStencil& p) : P(&p) {
    for (size_t n = 0; n < 8; ++n) Weights[n] = _mm256_set1_pd(p.S.Weight[n]);
  }
  ASTRELON_AVX2 __m128 Load(const float* plane, size_t i, size_t n) const {
    return _mm_loadu_ps(plane + ptrdiff_t(i) + P->Offset[n]);
  }
  ASTRELON_AVX2 __m256d Weight(size_t n) const { return Weights[n]; }
};

template <bool Rejecting>
ASTRELON_AVX2 void BlurRunAvx2(const float* a, const float* w, float* out, size_t first, size_t last,
                               const TPlacedStencil& p) {
  const TUniformLanes lanes(p);
  const __m256d centre = _mm256_set1_pd(p.S.Centre);
  size_t i = first;
  for (; i + 4 <= last; i += 4) BlurFour<Rejecting>(a, w, out, i, centre, lanes);
  BlurRunScalar<Rejecting>(a, w, out, i, last, p);
}

// The same eight pixels at a time where the processor has AVX-512: the masks
// choose which lanes add, as the blends do above.
// GCC 12 takes the undefined pass-through operand of some 512-bit intrinsics
// for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// Eight pixels at i..i+7: each lane adds in the scalar order, the masks
// choosing which lanes add, as the blends do above. `lanes` gives neighbour n
// of the eight pixels in both planes, its weights and the centre's. A
// neighbour counts in a rejecting step when its reference is valid and it is
// not below it (which makes it valid too).
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
    s[g] = _mm512_mul_pd(v, lanes.Centre);
    wc[g] = lanes.CentreWeight;
    if (Rejecting) {
      const __mmask8 below = _mm256_cmp_ps_mask(vf[g], _mm256_loadu_ps(a + j), _CMP_LT_OQ);
      wc[g] = _mm512_mask_mov_pd(wc[g], below, _mm512_set1_pd(1.0));
      s[g] = _mm512_mask_mov_pd(s[g], below, v);
    }
  }
#pragma GCC unroll 8
  for (size_t n = 0; n < 8; ++n) {
    const __m512d weight = lanes.Weight(n);
    // The neighbours on the axes weigh exactly 1: their product is the value.
    const bool axial = n == 1 || n == 3 || n == 4 || n == 6;
#pragma GCC unroll 4
    for (int g = 0; g < Groups; ++g) {
      const size_t j = i + size_t(8 * g);
      const __m256 uf = lanes.Load(w, j, n);
      __mmask8 counts;
      if (Rejecting) {
        const __m256 au = lanes.Load(a, j, n);
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

// All eight pixels at one reach: neighbours are plain loads.
struct TUniformEight {
  __m512d Centre, CentreWeight, Weights[8];
  ptrdiff_t Offset[8];  // local, so that the stores to `out` do not make them reload
  ASTRELON_AVX512 explicit TUniformEight(const TPlacedStencil& p)
      : Centre(_mm512_set1_pd(p.S.Centre)), CentreWeight(_mm512_set1_pd(std::fabs(p.S.Centre))) {
    for (size_t n = 0; n < 8; ++n) {
      Weights[n] = _mm512_set1_pd(p.S.Weight[n]);
      Offset[n] = p.Offset[n];
    }
  }
  ASTRELON_AVX512 __m256 Load(const float* plane, size_t i, size_t n) const {
    return _mm256_loadu_ps(plane + ptrdiff_t(i) + Offset[n]);
  }
  ASTRELON_AVX512 __m512d Weight(size_t n) const { return Weights[n]; }
};

// Two runs of four pixels side by side, each at its own reach (near the
// image's edges, where the reach changes every four columns).
struct TPairedEight {
  __m512d Centre, CentreWeight, Weights[8];
  ptrdiff_t Low[8], High[8];
  ASTRELON_AVX512 TPairedEight(const TPlacedStencil& p, const TPlacedStencil& q)
      : Centre(Halves(p.S.Centre, q.S.Centre)),
        CentreWeight(Halves(std::fabs(p.S.Centre), std::fabs(q.S.Centre))) {
    for (size_t n = 0; n < 8; ++n) {
      Weights[n] = Halves(p.S.Weight[n], q.S.Weight[n]);
      Low[n] = p.Offset[n];
      High[n] = q.Offset[n] + 4;
    }
  }
  ASTRELON_AVX512 static __m512d Halves(double low, double high) {
    return _mm512_insertf64x4(_mm512_set1_pd(low), _mm256_set1_pd(high), 1);
  }
  ASTRELON_AVX512 __m256 Load(const float* plane, size_t i, size_t n) const {
    return _mm256_loadu2_m128(plane + ptrdiff_t(i) + High[n], plane + ptrdiff_t(i) + Low[n]);
  }
  ASTRELON_AVX512 __m512d Weight(size_t n) const { return Weights[n]; }
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

// Pixels i..i+3 at the reach of p, i+4..i+7 at that of q.
template <bool Rejecting>
ASTRELON_AVX512 void BlurPairAvx512(const float* a, const float* w, float* out, size_t i, const TPlacedStencil& p,
                                    const TPlacedStencil& q) {
  BlurEight<Rejecting>(a, w, out, i, TPairedEight(p, q));
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

// Whether two runs of four at different reaches go at once (BlurPair).
bool UsePairs(bool avx2) {
#if ASTRELON_HAVE_AVX2
  return avx2 && CpuRunsAvx512();
#else
  (void)avx2;
  return false;
#endif
}

// Pixels i..i+3 at the reach of p, i+4..i+7 at that of q (only where UsePairs).
template <bool Rejecting>
void BlurPair(const float* a, const float* w, float* out, size_t i, const TPlacedStencil& p, const TPlacedStencil& q) {
#if ASTRELON_HAVE_AVX2
  BlurPairAvx512<Rejecting>(a, w, out, i, p, q);
#else
  BlurRunScalar<Rejecting>(a, w, out, i, i + 4, p);
  BlurRunScalar<Rejecting>(a, w, out, i + 4, i + 8, q);
#endif
}

// Columns x0..x1 (exclusive) of row y: every pixel in its own window
// (TStepWindows), the border pixels with only the pairs inside, the others in
// runs of one window. `rows` keeps the windows of the row's class.
template <bool Rejecting>
void BlurRow(const float* a, const float* w, float* out, int32_t y, int32_t x0, int32_t x1, int32_t width,
             int32_t height, const TStepWindows& t, TRowWindows& rows, bool avx2) {
  const int32_t ey = std::min(y, height - 1 - y);
  const size_t row = size_t(y) * size_t(width);
  const auto edge = [&](int32_t x) { return std::min(x, width - 1 - x); };
  const auto border = [&](int32_t x) {
    const int32_t ex = edge(x);
    const TMinBlurStencil s = t.Window(t.Horizontal(ex), t.Vertical(ey), t.Diagonal(ex, ey));
    out[row + size_t(x)] = BlurBorderPixel<Rejecting>(a, w, x, y, width, height, s);
  };
  if (ey == 0) {
    for (int32_t x = x0; x < x1; ++x) border(x);
    return;
  }
  rows.For(t, ey, width);
  const int32_t inner = t.Inner();
  // The run of one window from column x (x not on the border): its end and window.
  const auto run = [&](int32_t x, int32_t& end) -> const TPlacedStencil& {
    const int32_t ex = edge(x);
    if (ex >= inner) {
      end = std::min(x1, width - inner);  // the middle of the row
      return rows.Middle;
    }
    end = x + 1;
    while (end < x1 && edge(end) > 0 && edge(end) < inner && edge(end) / 4 == ex / 4) ++end;
    return rows.Group[size_t(ex / 4)];
  };
  const bool pairs = UsePairs(avx2);
  int32_t x = x0;
  while (x < x1) {
    if (edge(x) == 0) {
      border(x);
      ++x;
      continue;
    }
    int32_t end = x;
    const TPlacedStencil& own = run(x, end);
    if (pairs && end - x == 4 && end < x1 && edge(end) > 0) {
      // Near the edges the window changes every four columns: two runs at once.
      int32_t next = end;
      const TPlacedStencil& second = run(end, next);
      if (next - end == 4) {
        BlurPair<Rejecting>(a, w, out, row + size_t(x), own, second);
        x = next;
        continue;
      }
    }
    BlurRun<Rejecting>(a, w, out, row + size_t(x), row + size_t(end), own, avx2);
    x = end;
  }
}

// In a rejecting step a feature (a pixel below its reference) in a corner,
// where every pair of its window is shrunk, may find no neighbour that counts:
// a star there would never be eaten. Such a pixel, left as it was, takes what
// the sky further in says: along each direction of the full window whose two
// steps land inside the image on pixels that count, the line through them
// carried back to the pixel (2 W(p + n) - W(p + 2 n)), weighed as in the
// window. The line keeps a gradient as the centred windows do.
void FillStuckCorners(const float* a, const float* w, float* out, int32_t width, int32_t height,
                      const TStepWindows& t, const TMinBlurStencil& full) {
  const int32_t r = t.Reach();
  const auto shrunk = [&](int32_t e) { return CentredReach(e, r) < r; };
  std::vector<int32_t> rows;
  for (int32_t y = 0; y < height; ++y)
    if (shrunk(std::min(y, height - 1 - y))) rows.push_back(y);
  int32_t corner = 0;  // columns 0 .. corner - 1 and the same from the right
  while (corner < width && shrunk(std::min(corner, width - 1 - corner))) ++corner;
  if (rows.empty() || corner == 0) return;
  const auto counts = [&](int64_t x, int64_t y) {
    if (x < 0 || y < 0 || x >= width || y >= height) return false;
    const size_t j = size_t(y) * size_t(width) + size_t(x);
    return IsValidPixel(w[j]) && IsValidPixel(a[j]) && !(w[j] < a[j]);
  };
  const auto fill = [&](int32_t x, int32_t y) {
    const size_t i = size_t(y) * size_t(width) + size_t(x);
    if (!IsValidPixel(w[i]) || !(w[i] < a[i]) || out[i] != w[i]) return;
    double s = 0, wc = 0;
    for (size_t n = 0; n < 8; ++n) {
      const int64_t x1 = int64_t(x) + full.Dx[n], y1 = int64_t(y) + full.Dy[n];
      const int64_t x2 = x1 + full.Dx[n], y2 = y1 + full.Dy[n];
      if (!counts(x1, y1) || !counts(x2, y2)) continue;
      s += (2.0 * w[size_t(y1) * size_t(width) + size_t(x1)] - w[size_t(y2) * size_t(width) + size_t(x2)]) *
           full.Weight[n];
      wc += full.Weight[n];
    }
    if (wc > 0) out[i] = float(s / wc);
  };
  ForEachBand(int64_t(rows.size()), FilterThreads(int64_t(rows.size()) * corner * 2), [&](int64_t k0, int64_t k1) {
    for (int64_t k = k0; k < k1; ++k) {
      const int32_t y = rows[size_t(k)];
      for (int32_t x = 0; x < std::min(corner, width); ++x) fill(x, y);
      for (int32_t x = std::max(width - corner, corner); x < width; ++x) fill(x, y);
    }
  });
}

// Columns per strip: a strip runs down the plane with the rows a step reads
// (2 r + 1 of both planes) held in the cache, so that far neighbours are read
// from memory once rather than three times. Each of `threads` threads gets its
// share of half the L3 (the rest holds what the rows read beside the strip
// and what the other processes use).
int32_t StripWidth(int32_t width, int32_t reach, int threads) {
  const int64_t cacheBytes = std::max<int64_t>((int64_t(1) << 24) / std::max(threads, 1), int64_t(1) << 21);
  const int64_t columns = cacheBytes / ((2 * int64_t(reach) + 1) * 2 * int64_t(sizeof(float)));
  return int32_t(std::clamp<int64_t>(columns & ~int64_t(7), std::min<int64_t>(64, width), width));
}

// Rows ahead at which the row that a strip's windows reach next (r rows
// further down) is fetched: it is read from memory for the first time, and
// the processor's prefetchers do not follow a strip's short pieces of rows.
constexpr int32_t FetchAhead = 6;

void FetchFarRow(const float* a, const float* w, int32_t y, int32_t x0, int32_t x1, int32_t width, bool rejecting) {
#if ASTRELON_HAVE_SSE2
  const size_t row = size_t(y) * size_t(width);
  for (int32_t x = x0; x < x1; x += 16) {
    _mm_prefetch(reinterpret_cast<const char*>(w + row + size_t(x)), _MM_HINT_T1);
    if (rejecting) _mm_prefetch(reinterpret_cast<const char*>(a + row + size_t(x)), _MM_HINT_T1);
  }
#else
  (void)a, (void)w, (void)y, (void)x0, (void)x1, (void)width, (void)rejecting;
#endif
}

}  // namespace

TMinBlurStencil MinBlurStencil(int32_t reach, float scale) {
  TMinBlurStencil s;
  const int32_t r = std::max(reach, 1);
  const int32_t k = std::max(int32_t(std::lround(r * Sin45)), 1);
  const double wd = r * Sin45 / k;
  s.Reach = r;
  s.K = k;
  s.Diagonal = wd;
  s.Dx = {-k, 0, k, -r, r, -k, 0, k};
  s.Dy = {-k, -r, -k, 0, 0, k, r, k};
  s.Weight = {wd, 1, wd, 1, 1, wd, 1, wd};
  s.Centre = (4 * wd + 4) * double(scale);
  return s;
}

void MinBlurStepPlane(std::span<const float> reference, std::span<const float> work, std::span<float> out,
                      int32_t width, int32_t height, float scale, int32_t reach, bool vector) {
  if (width < 1 || height < 1) return;
  const size_t n = size_t(width) * size_t(height);
  if (reference.size() < n || work.size() < n || out.size() < n) return;
  const bool rejecting = reach < 0;
  // The largest reach any pixel takes: its distance to the nearest edge.
  const int32_t deepest = std::max(1, (std::min(width, height) - 1) / 2);
  const int32_t r = std::min(std::max(std::abs(reach), 1), deepest);
  const TStepWindows windows(r, deepest, scale);
  const bool avx2 = UseAvx2(vector);
  const float* a = reference.data();
  const float* w = work.data();
  float* o = out.data();
  // Work items: strips of columns, each cut into one band of rows per
  // thread; a thread takes as many neighbouring items as any other, so it
  // runs down a strip.
  const int threads = FilterThreads(int64_t(width) * height);
  const int32_t strip = StripWidth(width, r, threads);
  const int32_t strips = (width + strip - 1) / strip;
  const int32_t bands = std::min(height, threads);
  const int32_t bandRows = (height + bands - 1) / bands;
  // Whole rows follow each other in memory, and the processor fetches them ahead itself.
  const bool fetch = strips > 1;
  ForEachBand(int64_t(strips) * bands, threads, [&](int64_t first, int64_t last) {
    TRowWindows rows;
    for (int64_t item = first; item < last; ++item) {
      const int32_t x0 = int32_t(item / bands) * strip, x1 = std::min(width, x0 + strip);
      const int32_t y0 = int32_t(item % bands) * bandRows, y1 = std::min(height, y0 + bandRows);
      for (int32_t y = y0; y < y1; ++y) {
        if (fetch && y + FetchAhead + r < height) FetchFarRow(a, w, y + FetchAhead + r, x0, x1, width, rejecting);
        if (rejecting)
          BlurRow<true>(a, w, o, y, x0, x1, width, height, windows, rows, avx2);
        else
          BlurRow<false>(a, w, o, y, x0, x1, width, height, windows, rows, avx2);
      }
    }
  });
  if (rejecting) FillStuckCorners(a, w, o, width, height, windows, MinBlurStencil(r, scale));
}

}  // namespace astrelon
