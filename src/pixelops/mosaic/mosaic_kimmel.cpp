#include "pixelops/mosaic/mosaic_kimmel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <memory>
#include <vector>

#include "pixelops/mosaic/kimmel_sites.h"
#include "platform/simd_support.h"
#include "store/image_store.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using kimmel::TKimmelNumbers;
using simd::TVec4d;
using simd::TVec4f;

// The refinement passes are at most seven; each is four stages after the first
// three: the line variances of the sites that take them, the greens, red and
// blue at their red and blue sites, red and blue at the green sites.
constexpr int32_t MaxPasses = 7;
constexpr int32_t FirstPassStage = 4;
constexpr int32_t PassStages = 4;
enum TPassPart : int32_t { PpLines, PpGreens, PpOpposite, PpGreenSites };
constexpr int32_t KimmelStages = 3 + PassStages * MaxPasses;

// Rows of the refinement's greens go in groups of four, one row a lane, each
// lane three columns behind the one above (see RefineGreenGroup).
constexpr int32_t GroupRows = 4;
constexpr int32_t GroupLag = 3;
constexpr int32_t StepsPerChunk = 32;

// What the workers share: iteration counts (per pixel the number of refinement
// passes it takes part in, per row the largest of its pixels), the red and blue
// sites' values before a pass, and the progress of the green refinement.
struct TKimmelState {
  TKimmelNumbers Numbers;
  bool Vector = false;
  std::vector<uint8_t> Pixel, Row;
  int32_t Passes = 0;
  int32_t HalfWidth = 0;
  std::vector<float> OldRed, OldBlue;  // one value per 2 x 2 cell
  std::atomic<int32_t> NextGroup{0};
  std::unique_ptr<std::atomic<int32_t>[]> Progress;  // per group: columns done in all its rows
  int32_t Groups = 0;
  std::vector<std::unique_ptr<TRowDealer>> Rows;  // per stage, the stages that deal rows
  // The line variances of a pass at the refinement's sites whose count is above
  // 3 and whose lines fit ("listed" sites), in raster order: the first of row y
  // at LineStart[y].
  std::vector<int32_t> LineCount, LineStart;
  std::vector<double> LineH, LineV;
  std::vector<int32_t> LineColumn;  // the listed sites' columns, found in the first pass
};

// The planes of the result and the mosaic.
struct TKimmelView {
  int32_t W = 0, H = 0;
  const float* M = nullptr;
  float* P[4] = {};  // 1 R, 2 G, 3 B

  explicit TKimmelView(const TMosaicStage& job) {
    TImageSlot& dst = Store.Image[size_t(job.Destination)];
    W = dst.Width;
    H = dst.Height;
    M = Store.Image[size_t(job.Source)].Planes[1].data();
    for (int p = 1; p <= 3; ++p) P[p] = dst.Planes[size_t(p)].data();
  }
  size_t At(int32_t x, int32_t y) const { return size_t(y) * size_t(W) + size_t(x); }
};

bool IsGreen(int32_t x, int32_t y) { return MosaicCellColor(MosaicPattern, x, y) == McGreen; }
// The colour of the row's red or blue sites: plane 1 (red) or 3 (blue).
int32_t RowPlane(int32_t y) {
  const int32_t c = MosaicCellColor(MosaicPattern, IsGreen(0, y) ? 1 : 0, y);
  return c == McRed ? 1 : 3;
}
bool VarianceWindowFits(const TKimmelView& v, int32_t x, int32_t y) {
  return y >= 7 && y <= v.H - 8 && x > 6 && x < v.W - 7;
}
// The first red or blue column of the refinement in row y.
int32_t RefineStart(int32_t y) { return IsGreen(1, y) ? 4 : 3; }
// Whether the refinement reads line variances at (x, y) (a site of its rows).
bool Listed(const TKimmelView& v, const TKimmelState& st, int32_t x, int32_t y) {
  return VarianceWindowFits(v, x, y) && st.Pixel[v.At(x, y)] > 3;
}

template <class D>
[[gnu::always_inline]] inline double LaneOf(const D& v, int l) {
  if constexpr (std::is_arithmetic_v<D>)
    return v;
  else
    return v[l];
}

// ---- Stage 1: green at the red and blue sites, with the counts ----

// The sites x, x + 2, ... (one a lane) of row y.
template <class D>
[[gnu::always_inline]] inline void FirstGreenSites(const TKimmelView& v, TKimmelState& st, int32_t x, int32_t y,
                                                   uint8_t& rowCount) {
  constexpr int L = simd::LaneCount<D>;
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  const float* g = v.P[2] + i;
  const float* m = v.M + i;
  // The greens around the sites, each read once (all at green sites, within two
  // rows and columns). Other workers write the red and blue sites of the rows
  // above and below: those rows are read site by site.
  D near[5][5];
  static constexpr int8_t Taps[][2] = {{0, -1}, {0, 1},  {-1, -2}, {-1, 0}, {-1, 2}, {1, -2},
                                       {1, 0},  {1, 2},  {-2, -1}, {-2, 1}, {2, -1}, {2, 1}};
#pragma GCC unroll 12
  for (const auto& t : Taps)
    near[t[0] + 2][t[1] + 2] =
        t[0] == 0 ? simd::Every2Wide<D>(g + t[1]) : simd::Every2AloneWide<D>(g + t[0] * W + t[1]);
  const auto G = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return near[dy + 2][dx + 2]; };
  const auto M = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return simd::Every2Wide<D>(m + dy * W + dx); };
  const kimmel::TFirstEdges edges{x < 3, x + 2 * (L - 1) >= v.W - 3, y < 3, y >= v.H - 3};
  bool fits[L];
  for (int l = 0; l < L; ++l) fits[l] = VarianceWindowFits(v, x + 2 * l, y);
  D green, count;
  kimmel::FirstGreen<D>(G, M, st.Numbers, edges, simd::LaneMask<D>(fits), green, count);
  simd::StoreNarrowed(v.P[2] + i, 2, green);
  for (int l = 0; l < L; ++l) {
    const uint8_t c = uint8_t(LaneOf(count, l));
    st.Pixel[i + 2 * size_t(l)] = c;
    st.Pixel[i + 2 * size_t(l) + 1] = c;
    rowCount = std::max(rowCount, c);
  }
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t FirstGreenLanes(const TKimmelView& v, TKimmelState& st, int32_t x, int32_t y,
                                      uint8_t& rowCount) {
  // Reads reach ten columns past the first lane; the last site stays single.
  for (; x + 6 <= v.W - 4; x += 8) FirstGreenSites<TVec4d>(v, st, x, y, rowCount);
  return x;
}
#endif

// Row y (2 .. height - 3).
void FirstGreenRow(const TKimmelView& v, TKimmelState& st, int32_t y) {
  const int32_t w = v.W;
  const ptrdiff_t W = w;
  uint8_t rowCount = 0;
  int32_t x = IsGreen(0, y) ? 3 : 2;
  if (x == 2) {  // the first site lacks its left term
    FirstGreenSites<double>(v, st, x, y, rowCount);
    x += 2;
  }
#if ASTRELON_HAVE_AVX2
  if (st.Vector) x = FirstGreenLanes(v, st, x, y, rowCount);
#endif
  for (; x <= w - 3; x += 2) FirstGreenSites<double>(v, st, x, y, rowCount);
  if (x < w) {  // the next non-green site at the right edge
    const ptrdiff_t i = ptrdiff_t(v.At(x, y));
    v.P[2][i] = (v.M[i - 1] + v.M[i - W] + v.M[i + W]) / 3;
  }
  st.Row[size_t(y)] = rowCount;
  int32_t listed = 0;
  if (y >= 3 && y <= v.H - 4)
    for (int32_t s = RefineStart(y); s <= w - 3; s += 2) listed += Listed(v, st, s, y);
  st.LineCount[size_t(y)] = listed;
}

// ---- Stages 2 and 3, and the refinement's red and blue ----

template <class D>
[[gnu::always_inline]] inline D Square(D v) {
  return v * v;
}

// Stage 2: the other colour at the red or blue sites x, x + 2, ... of row y
// from the four diagonal neighbours' differences of mosaic and green.
template <class D>
[[gnu::always_inline]] inline void OppositeSites(const TKimmelView& v, int32_t x, int32_t y, float* out) {
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  const auto G = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(v.P[2] + i + d); };
  const auto M = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(v.M + i + d); };
  const ptrdiff_t nb[4] = {-W - 1, W + 1, -W + 1, W - 1};
  D g[4], d[4];
  for (int k = 0; k < 4; ++k) {
    g[k] = G(nb[k]);
    d[k] = M(nb[k]) - g[k];
  }
  simd::StoreNarrowed(out + i, 2, kimmel::DifferenceFill(G(0), g, d, Square(d[0] - d[1]), Square(d[2] - d[3])));
}

// Stage 3: red and blue at the green sites x, x + 2, ... of row y from the four
// direct neighbours' differences of the plane and green.
template <class D>
[[gnu::always_inline]] inline void GreenSites(const TKimmelView& v, int32_t x, int32_t y) {
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  const auto G = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(v.P[2] + i + d); };
  const ptrdiff_t nb[4] = {-W, W, -1, 1};
  D g[4];
  for (int k = 0; k < 4; ++k) g[k] = G(nb[k]);
  for (const int p : {1, 3}) {
    const float* c = v.P[p] + i;
    // Other workers write the green sites of the rows above and below.
    const D values[4] = {simd::Every2AloneWide<D>(c - W), simd::Every2AloneWide<D>(c + W),
                         simd::Every2Wide<D>(c - 1), simd::Every2Wide<D>(c + 1)};
    D d[4];
    for (int k = 0; k < 4; ++k) d[k] = values[k] - g[k];
    simd::StoreNarrowed(v.P[p] + i, 2,
                        kimmel::DifferenceFill(G(0), g, d, Square(d[0] - d[1]), Square(d[2] - d[3])));
  }
}

// The sites of one parity of row y from x to last (inclusive), L at a time while
// they fit, then one by one.
template <class D, class F>
[[gnu::always_inline]] inline int32_t LaneLoop(int32_t x, int32_t last, F&& sites) {
  constexpr int32_t L = simd::LaneCount<D>;
  for (; x + 2 * (L - 1) <= last; x += 2 * L) sites.template operator()<D>(x);
  return x;
}

// Stages 2 and 3 on one row.
template <class D>
[[gnu::always_inline]] inline int32_t ColourRowSites(const TKimmelView& v, int32_t y, bool greenSites, int32_t x,
                                                     int32_t last) {
  if (greenSites)
    return LaneLoop<D>(x, last, [&]<class V>(int32_t at) __attribute__((always_inline)) { GreenSites<V>(v, at, y); });
  float* out = v.P[4 - RowPlane(y)];
  return LaneLoop<D>(x, last, [&]<class V>(int32_t at) __attribute__((always_inline)) { OppositeSites<V>(v, at, y, out); });
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t ColourRowLanes(const TKimmelView& v, int32_t y, bool greenSites, int32_t x, int32_t last) {
  return ColourRowSites<TVec4d>(v, y, greenSites, x, last);
}
#endif

// Row y (2 .. height - 3) of stage 2 or 3.
void KimmelColourRow(const TKimmelView& v, const TKimmelState& st, int32_t y, bool greenSites) {
  // Sites of the wanted kind: from column 2 or 3 in steps of 2 up to width - 3.
  int32_t x = IsGreen(2, y) == greenSites ? 2 : 3;
#if ASTRELON_HAVE_AVX2
  if (st.Vector) x = ColourRowLanes(v, y, greenSites, x, v.W - 3);
#endif
  ColourRowSites<double>(v, y, greenSites, x, v.W - 3);
}

// Which of the sites i, i + 2, ... take part in pass p; false when none does.
template <int L>
bool ActiveLanes(const TKimmelState& st, size_t i, int32_t p, bool (&active)[L]) {
  bool any = false;
  for (int l = 0; l < L; ++l) any |= (active[l] = st.Pixel[i + 2 * size_t(l)] >= p);
  return any;
}

// The refinement's red or blue at the red and blue sites of row y (the colour
// the row lacks), from the plane's own values at the diagonals.
template <class D>
[[gnu::always_inline]] inline void RefineOppositeSites(const TKimmelView& v, const TKimmelState& st, int32_t p,
                                                       int32_t x, int32_t y, float* plane) {
  constexpr int L = simd::LaneCount<D>;
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  bool active[L];
  if (!ActiveLanes(st, i, p, active)) return;
  const auto G = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(v.P[2] + i + d); };
  const auto C = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(plane + i + d); };
  const ptrdiff_t nb[4] = {-W - 1, W + 1, -W + 1, W - 1};
  D g[4], c[4], d[4];
  for (int k = 0; k < 4; ++k) {
    g[k] = G(nb[k]);
    c[k] = C(nb[k]);
    d[k] = c[k] - g[k];
  }
  const D value = kimmel::DifferenceFill(G(0), g, d, Square(c[0] - c[1]), Square(c[2] - c[3]));
  for (int l = 0; l < L; ++l)
    if (active[l]) plane[i + 2 * size_t(l)] = float(LaneOf(value, l));
}

// The refinement's red and blue at the green sites of row y: of a plane's four
// direct neighbours, two are sites of the plane's own colour, and of the other
// two the one above or to the left has this pass's value (in the plane), the one
// below or to the right its value before the pass (in `old`).
template <class D>
[[gnu::always_inline]] inline void RefineGreenSiteColours(const TKimmelView& v, const TKimmelState& st, int32_t p,
                                                          int32_t x, int32_t y) {
  constexpr int L = simd::LaneCount<D>;
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  bool active[L];
  if (!ActiveLanes(st, i, p, active)) return;
  const auto G = [&](ptrdiff_t d) __attribute__((always_inline)) { return simd::Every2Wide<D>(v.P[2] + i + d); };
  const ptrdiff_t nb[4] = {-W, W, -1, 1};
  D g[4];
  for (int k = 0; k < 4; ++k) g[k] = G(nb[k]);
  const D gc = G(0);
  const int32_t rowPlane = RowPlane(y);  // the colour of the sites left and right
  const size_t half = size_t(st.HalfWidth);
  for (const int plane : {1, 3}) {
    const float* c = v.P[plane] + i;
    const std::vector<float>& old = plane == 1 ? st.OldRed : st.OldBlue;
    D values[4];
    // Other workers write the green sites of the rows above and below.
    values[0] = simd::Every2AloneWide<D>(c - W);
    values[2] = simd::Every2Wide<D>(c - 1);
    if (rowPlane == plane) {  // left and right of the plane's own colour, above and below the other
      values[1] = simd::NextWide<D>(old.data() + size_t((y + 1) >> 1) * half + size_t(x >> 1));
      values[3] = simd::Every2Wide<D>(c + 1);
    } else {
      values[1] = simd::Every2AloneWide<D>(c + W);
      values[3] = simd::NextWide<D>(old.data() + size_t(y >> 1) * half + size_t((x + 1) >> 1));
    }
    D d[4];
    for (int k = 0; k < 4; ++k) d[k] = values[k] - g[k];
    const D value =
        kimmel::DifferenceFill(gc, g, d, Square(values[0] - values[1]), Square(values[2] - values[3]));
    float* out = v.P[plane] + i;
    for (int l = 0; l < L; ++l)
      if (active[l]) out[2 * l] = float(LaneOf(value, l));
  }
}

template <class D>
[[gnu::always_inline]] inline int32_t RefineColourSites(const TKimmelView& v, const TKimmelState& st, int32_t p,
                                                        int32_t y, bool greenSites, int32_t x, int32_t last) {
  if (greenSites)
    return LaneLoop<D>(x, last, [&]<class V>(int32_t at) __attribute__((always_inline)) { RefineGreenSiteColours<V>(v, st, p, at, y); });
  float* plane = v.P[4 - RowPlane(y)];
  return LaneLoop<D>(x, last, [&]<class V>(int32_t at) __attribute__((always_inline)) { RefineOppositeSites<V>(v, st, p, at, y, plane); });
}

#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 int32_t RefineColourLanes(const TKimmelView& v, const TKimmelState& st, int32_t p, int32_t y,
                                        bool greenSites, int32_t x, int32_t last) {
  return RefineColourSites<TVec4d>(v, st, p, y, greenSites, x, last);
}
#endif

// The refinement's red and blue at the red and blue sites of row y, keeping
// the values before the pass (rows 1 .. height - 2, for the green sites).
void RefineOppositeRow(const TKimmelView& v, TKimmelState& st, int32_t p, int32_t y) {
  const size_t half = size_t(st.HalfWidth);
  const int32_t own = RowPlane(y);
  const float* plane = v.P[4 - own];
  float* old = (own == 3 ? st.OldRed : st.OldBlue).data() + size_t(y >> 1) * half;
  for (int32_t x = IsGreen(0, y) ? 1 : 0; x < v.W; x += 2) old[x >> 1] = plane[v.At(x, y)];
  if (y < 2 || y > v.H - 3) return;
  int32_t x = IsGreen(2, y) ? 3 : 2;
#if ASTRELON_HAVE_AVX2
  if (st.Vector) x = RefineColourLanes(v, st, p, y, false, x, v.W - 3);
#endif
  RefineColourSites<double>(v, st, p, y, false, x, v.W - 3);
}

// The refinement's red and blue at the green sites of row y (2 .. height - 3).
void RefineGreenSiteRow(const TKimmelView& v, const TKimmelState& st, int32_t p, int32_t y) {
  int32_t x = IsGreen(2, y) ? 2 : 3;
#if ASTRELON_HAVE_AVX2
  if (st.Vector) x = RefineColourLanes(v, st, p, y, true, x, v.W - 3);
#endif
  RefineColourSites<double>(v, st, p, y, true, x, v.W - 3);
}

// ---- The line variances of a pass ----
//
// A site whose count is above 3 takes the variances of its 15-pixel lines
// (LineVariances). They read the own colour at own-colour and green sites and
// the green at green sites, none of which the pass's greens change: they are
// found before the greens, row by row, for the listed sites whose count
// reaches the pass. Those are about one site in five, mostly alone in a run of
// four neighbours: they are collected first and gathered four to a vector.

#if ASTRELON_HAVE_AVX2
// Offset d of the four lanes' bases, widened: a load and three broadcasts
// blended in (blends run on more ports than inserts).
[[gnu::always_inline]] ASTRELON_AVX2 inline TVec4d GatherLanes(const std::array<const float*, 4>& base, ptrdiff_t d) {
  __m128 f = _mm_load_ss(base[0] + d);
  f = _mm_blend_ps(f, _mm_broadcast_ss(base[1] + d), 2);
  f = _mm_blend_ps(f, _mm_broadcast_ss(base[2] + d), 4);
  f = _mm_blend_ps(f, _mm_broadcast_ss(base[3] + d), 8);
  return (TVec4d)_mm256_cvtps_pd(f);
}

#endif

// The line variances of the site at column x of row y to index `at`.
void LineSite(const TKimmelView& v, TKimmelState& st, int32_t y, int32_t x, int32_t at) {
  const ptrdiff_t W = v.W;
  const size_t i = v.At(x, y);
  const float* g = v.P[2] + i;
  const float* c = v.P[RowPlane(y)] + i;
  const auto G = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return double(g[dy * W + dx]); };
  const auto C = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return double(c[dy * W + dx]); };
  double vh, vv;
  kimmel::LineVariances(G, C, double(st.Pixel[i]), st.Numbers, vh, vv);
  st.LineH[size_t(at)] = vh;
  st.LineV[size_t(at)] = vv;
}

#if ASTRELON_HAVE_AVX2
// The line variances of four lanes from their bases: plain vector code without
// a target, vectors only by reference (as RefinedGreenLanes), inlined into AVX2.
[[gnu::always_inline]] inline void LineVarianceLanes(const std::array<const float*, 4>& gs,
                                                     const std::array<const float*, 4>& cs, ptrdiff_t W,
                                                     const TVec4d& count, const TKimmelNumbers& n, TVec4d& vh,
                                                     TVec4d& vv) {
  const auto lanes = [&](const std::array<const float*, 4>& base, ptrdiff_t d) __attribute__((always_inline)) {
    return __builtin_convertvector((TVec4f{base[0][d], base[1][d], base[2][d], base[3][d]}), TVec4d);
  };
  const auto G = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return lanes(gs, dy * W + dx); };
  const auto C = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return lanes(cs, dy * W + dx); };
  kimmel::LineVariances(G, C, count, n, vh, vv);
}

// The same for the sites at columns xs[0 .. 3], one a lane.
ASTRELON_AVX2 void LineSites(const TKimmelView& v, TKimmelState& st, int32_t y, const int32_t* xs,
                             const int32_t* at) {
  const ptrdiff_t W = v.W;
  const float* g = v.P[2];
  const float* c = v.P[RowPlane(y)];
  std::array<const float*, 4> gs, cs;
  TVec4d count;
  for (int l = 0; l < 4; ++l) {
    const size_t i = v.At(xs[l], y);
    gs[size_t(l)] = g + i;
    cs[size_t(l)] = c + i;
    count[l] = st.Pixel[i];
  }
  TVec4d vh, vv;
  LineVarianceLanes(gs, cs, W, count, st.Numbers, vh, vv);
  for (int l = 0; l < 4; ++l) {
    st.LineH[size_t(at[l])] = vh[l];
    st.LineV[size_t(at[l])] = vv[l];
  }
}

// Four sites at a time while two or more are left (a fourth lane repeats the
// last site); returns how many it did.
size_t LineLanes(const TKimmelView& v, TKimmelState& st, int32_t y, const int32_t* xs, const int32_t* at, size_t n) {
  size_t k = 0;
  for (; k + 4 <= n; k += 4) LineSites(v, st, y, xs + k, at + k);
  if (n - k >= 2) {
    int32_t x4[4], a4[4];
    for (size_t l = 0; l < 4; ++l) {
      x4[l] = xs[std::min(k + l, n - 1)];
      a4[l] = at[std::min(k + l, n - 1)];
    }
    LineSites(v, st, y, x4, a4);
    k = n;
  }
  return k;
}
#endif

// Row y (7 .. height - 8): its listed sites (one variance index each, whether
// the pass takes them or not) whose count reaches p, gathered side by side.
void LineRow(const TKimmelView& v, TKimmelState& st, int32_t p, int32_t y) {
  if (st.Row[size_t(y)] < p || st.LineCount[size_t(y)] == 0) return;
  thread_local std::vector<int32_t> xs, at;
  xs.clear();
  at.clear();
  const int32_t first = st.LineStart[size_t(y)];
  int32_t* columns = st.LineColumn.data() + first;
  const uint8_t* counts = st.Pixel.data() + v.At(0, y);
  if (p == 1) {  // every listed site: their columns for the later passes
    int32_t next = 0;
    for (int32_t x = RefineStart(y); x <= v.W - 8; x += 2)
      if (Listed(v, st, x, y)) columns[next++] = x;
  }
  for (int32_t k = 0; k < st.LineCount[size_t(y)]; ++k)
    if (counts[columns[k]] >= p) {
      xs.push_back(columns[k]);
      at.push_back(first + k);
    }
  size_t k = 0;
#if ASTRELON_HAVE_AVX2
  if (st.Vector) k = LineLanes(v, st, y, xs.data(), at.data(), xs.size());
#endif
  for (; k < xs.size(); ++k) LineSite(v, st, y, xs[k], at[k]);
}

// ---- The refinement's greens ----
//
// A pass goes through the red and blue sites in raster order and writes each
// new green in place: a site reads the greens of the sites above it and to its
// left as this pass left them, those below and to its right as they were. Such
// a site depends on its left neighbour (two columns back) and on the row above
// up to one column ahead, so the rows run as a wavefront: row y + 1 works three
// columns behind row y, four rows side by side in the lanes of a vector, and a
// group of four rows starts a column only when the group above has finished the
// next one. Every site then reads exactly what the raster order gives it.

// The lanes of a step: base pointers (an idle lane at an active one's site),
// counts and the per-lane conditions of the site arithmetic.
// A row of a group: its own colour's plane, its first red or blue column and
// whether the 15-pixel columns of the line variances fit above and below it.
struct TGroupRow {
  const float* Plane = nullptr;
  int32_t Start = 0;
  bool Lines = false;
};

template <int L>
struct TStepLanes {
  std::array<const float*, L> G{}, C{};
  double Count[L], LineH[L], LineV[L];
  bool Fits[L], Right[L];

  // line[l]: the index of lane l's line variances, -1 for none.
  TStepLanes(const TKimmelView& v, const TKimmelState& st, const size_t* at, const int32_t* xs,
             const TGroupRow* rows, const int32_t* line, const bool* active) {
    int any = 0;
    while (!active[any]) ++any;
    for (int l = 0; l < L; ++l) {
      const int l0 = active[l] ? l : any;
      G[size_t(l)] = v.P[2] + at[l0];
      C[size_t(l)] = rows[l0].Plane + at[l0];
      Count[l] = st.Pixel[at[l0]];
      Fits[l] = rows[l0].Lines && xs[l0] > 6 && xs[l0] < v.W - 7;
      Right[l] = xs[l0] == v.W - 3;
      LineH[l] = line[l0] >= 0 ? st.LineH[size_t(line[l0])] : 0.0;
      LineV[l] = line[l0] >= 0 ? st.LineV[size_t(line[l0])] : 0.0;
    }
  }
};

// One site (the scalar twin of RefineGreenVector).
void RefineGreenSite(const TKimmelView& v, const TKimmelState& st, size_t at, int32_t x, const TGroupRow& row,
                     int32_t line) {
  const bool active = true;
  const TStepLanes<1> lanes(v, st, &at, &x, &row, &line, &active);
  const ptrdiff_t W = v.W;
  const auto G = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return double(lanes.G[0][dy * W + dx]); };
  const auto C = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return double(lanes.C[0][dy * W + dx]); };
  v.P[2][at] = float(kimmel::RefinedGreen<double>(G, C, lanes.Count[0], lanes.Fits[0], lanes.Right[0],
                                                  lanes.LineH[0], lanes.LineV[0], st.Numbers));
}

#if ASTRELON_HAVE_AVX2
// The arithmetic of four sites from their gathered values. It has no vector
// target of its own and takes and gives vectors only by reference, so that no
// call between it and the AVX2 code passes a vector by value (clang refuses
// that); inlined there, it runs as AVX2.
[[gnu::always_inline]] inline void RefinedGreenLanes(const TVec4d (&g)[7][7], const TVec4d (&row)[3],
                                                     const TVec4d (&column)[3], const TStepLanes<4>& lanes,
                                                     const TKimmelNumbers& n, TVec4d& green) {
  const auto G = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) { return g[dy + 3][dx + 3]; };
  const auto C = [&](int32_t dy, int32_t dx) __attribute__((always_inline)) {
    return dy == 0 ? row[dx + 1] : column[dy + 1];
  };
  const auto lanesOf = [](const double* v) __attribute__((always_inline)) { return TVec4d{v[0], v[1], v[2], v[3]}; };
  green = kimmel::RefinedGreen<TVec4d>(G, C, lanesOf(lanes.Count), simd::LaneMask<TVec4d>(lanes.Fits),
                                       simd::LaneMask<TVec4d>(lanes.Right), lanesOf(lanes.LineH),
                                       lanesOf(lanes.LineV), n);
}

// Four sites of one step, the lanes' values gathered first: the greens of
// their 7 x 7 neighbourhoods that the arithmetic reads, the own colour at the
// site and its direct neighbours, and the 15-pixel lines of own colour where a
// lane takes the line variances.
ASTRELON_AVX2 void RefineGreenVector(const TKimmelView& v, const TKimmelState& st, const size_t* at,
                                     const int32_t* xs, const TGroupRow* rows, const int32_t* line,
                                     const bool* active) {
  const TStepLanes<4> lanes(v, st, at, xs, rows, line, active);
  const ptrdiff_t W = v.W;
  TVec4d g[7][7], row[3], column[3];
  static constexpr int8_t Taps[][2] = {
      {0, -3}, {0, -2}, {0, -1}, {0, 0},  {0, 1},  {0, 2},  {0, 3},  {-1, -2}, {-1, -1}, {-1, 0},
      {-1, 1}, {-1, 2}, {1, -2}, {1, -1}, {1, 0},  {1, 1},  {1, 2},  {-2, -1}, {-2, 0},  {-2, 1},
      {2, -1}, {2, 0},  {2, 1},  {-3, 0}, {3, 0}};
  for (const auto& t : Taps) g[t[0] + 3][t[1] + 3] = GatherLanes(lanes.G, t[0] * W + t[1]);
  for (const int d : {-1, 0, 1}) row[d + 1] = GatherLanes(lanes.C, d);
  for (const int d : {-1, 1}) column[d + 1] = GatherLanes(lanes.C, d * W);
  column[1] = row[1];
  TVec4d green;
  RefinedGreenLanes(g, row, column, lanes, st.Numbers, green);
  for (int l = 0; l < 4; ++l)
    if (active[l]) v.P[2][at[l]] = float(green[l]);
}
#endif

// One group of rows y0 .. y0 + 3 of pass p (rows 3 .. height - 4 whose count
// reaches p). Before each chunk of columns it waits for the group above; after
// it, it tells the group below how far all its rows are done.
void RefineGreenGroup(const TKimmelView& v, TKimmelState& st, int32_t p, int32_t group) {
  const int32_t w = v.W;
  const int32_t y0 = 3 + GroupRows * group;
  std::atomic<int32_t>& done = st.Progress[size_t(group)];
  std::array<bool, GroupRows> rowActive{};
  std::array<TGroupRow, GroupRows> rows{};
  bool anyRow = false;
  for (int32_t l = 0; l < GroupRows; ++l) {
    const int32_t y = y0 + l;
    rowActive[size_t(l)] = y <= v.H - 4 && st.Row[size_t(y)] >= p;
    anyRow |= rowActive[size_t(l)];
    rows[size_t(l)] = {v.P[RowPlane(y)], RefineStart(y), y >= 7 && y <= v.H - 8};
  }
  // Per row the index of its next listed site's line variances.
  std::array<int32_t, GroupRows> cursor{};
  for (int32_t l = 0; l < GroupRows; ++l)
    cursor[size_t(l)] = y0 + l <= v.H - 4 ? st.LineStart[size_t(y0 + l)] : 0;
  if (anyRow) {
    const int32_t x0 = RefineStart(y0);
    const int32_t lastStep = (w - 3 + GroupLag * (GroupRows - 1) - x0 + 1) / 2;
    for (int32_t t0 = 0; t0 <= lastStep; t0 += StepsPerChunk) {
      const int32_t t1 = std::min(t0 + StepsPerChunk - 1, lastStep);
      if (group > 0) {
        // The first row reads the row above up to one column ahead.
        const int32_t need = x0 + 2 * t1 + 1;
        std::atomic<int32_t>& above = st.Progress[size_t(group - 1)];
        for (int32_t seen = above.load(std::memory_order_acquire); seen < need;
             seen = above.load(std::memory_order_acquire))
          above.wait(seen, std::memory_order_acquire);
      }
      for (int32_t t = t0; t <= t1; ++t) {
        std::array<size_t, GroupRows> at{};
        std::array<int32_t, GroupRows> xs{}, line{};
        bool active[GroupRows];
        bool any = false;
        for (int32_t l = 0; l < GroupRows; ++l) {
          const int32_t x = x0 + 2 * t - GroupLag * l;
          xs[size_t(l)] = x;
          line[size_t(l)] = -1;
          active[l] = rowActive[size_t(l)] && x >= rows[size_t(l)].Start && x <= w - 3;
          if (active[l]) {
            at[size_t(l)] = v.At(x, y0 + l);
            if (Listed(v, st, x, y0 + l)) line[size_t(l)] = cursor[size_t(l)]++;
            active[l] = st.Pixel[at[size_t(l)]] >= p;
          }
          any |= active[l];
        }
        if (!any) continue;
#if ASTRELON_HAVE_AVX2
        if (st.Vector) {
          RefineGreenVector(v, st, at.data(), xs.data(), rows.data(), line.data(), active);
          continue;
        }
#endif
        for (int32_t l = 0; l < GroupRows; ++l)
          if (active[l]) RefineGreenSite(v, st, at[size_t(l)], xs[size_t(l)], rows[size_t(l)], line[size_t(l)]);
      }
      // The last row has done every column up to its own position.
      done.store(x0 + 2 * t1 - GroupLag * (GroupRows - 1), std::memory_order_release);
      done.notify_all();
    }
  }
  done.store(INT_MAX, std::memory_order_release);
  done.notify_all();
}

// The groups of a pass go to the workers in order as they ask, so that a group
// is always taken after the group above it, by a worker that is running it.
void RefineGreenGroups(const TKimmelView& v, TKimmelState& st, int32_t p) {
  for (int32_t g = st.NextGroup.fetch_add(1); g < st.Groups; g = st.NextGroup.fetch_add(1))
    RefineGreenGroup(v, st, p, g);
}

}  // namespace

TMosaicWorkerMethod KimmelMosaicMethod(const TMosaicStage& job) {
  const TImageSlot& dst = Store.Image[size_t(job.Destination)];
  auto st = std::make_shared<TKimmelState>();
  st->Numbers = TKimmelNumbers(std::max(0.01 * job.Noise, 0.01), 0.1 * (double(dst.MaxValue) - dst.MinValue));
  st->Vector = UseAvx2(true);
  st->Pixel.assign(dst.PixelCount(), 0);
  st->Row.assign(size_t(std::max(dst.Height, 0)), 0);
  st->HalfWidth = (dst.Width + 1) / 2;
  st->Groups = std::max(0, (dst.Height - 6 + GroupRows - 1) / GroupRows);
  st->Progress = std::make_unique<std::atomic<int32_t>[]>(size_t(std::max(st->Groups, 1)));
  // The rows of the stages that share them in chunks: 2 .. height - 3, and for
  // the refinement's red and blue sites 1 .. height - 2.
  const int32_t h = dst.Height;
  st->Rows.resize(size_t(KimmelStages) + 1);
  for (int32_t stage = 1; stage <= KimmelStages; ++stage) {
    const int32_t part = stage < FirstPassStage ? -1 : (stage - FirstPassStage) % PassStages;
    if (part == PpGreens) continue;  // the greens go by groups
    st->Rows[size_t(stage)] = part == PpLines      ? std::make_unique<TRowDealer>(7, h - 8)
                              : part == PpOpposite ? std::make_unique<TRowDealer>(1, h - 2)
                                                   : std::make_unique<TRowDealer>(2, h - 3);
  }
  st->LineCount.assign(size_t(std::max(h, 0)), 0);
  TMosaicWorkerMethod method;
  method.Stages = KimmelStages;
  method.Stage = [st](TMosaicWorkerBlock& blk, int32_t stage) {
    const TKimmelView v(*blk.Job);
    switch (stage) {
      case 1: st->Rows[1]->Take([&](int32_t y) { FirstGreenRow(v, *st, y); }); return;
      case 2: st->Rows[2]->Take([&](int32_t y) { KimmelColourRow(v, *st, y, false); }); return;
      case 3: st->Rows[3]->Take([&](int32_t y) { KimmelColourRow(v, *st, y, true); }); return;
      default: break;
    }
    // The refinement: pass p in four stages.
    const int32_t p = (stage - FirstPassStage) / PassStages + 1, part = (stage - FirstPassStage) % PassStages;
    if (p > st->Passes) return;
    if (part == PpGreens) {  // the greens have no row dealer
      RefineGreenGroups(v, *st, p);
      return;
    }
    TRowDealer& rows = *st->Rows[size_t(stage)];
    switch (part) {
      case PpLines: rows.Take([&](int32_t y) { LineRow(v, *st, p, y); }); break;
      case PpOpposite: rows.Take([&](int32_t y) { RefineOppositeRow(v, *st, p, y); }); break;
      default: rows.Take([&](int32_t y) { RefineGreenSiteRow(v, *st, p, y); }); break;
    }
  };
  method.Between = [st](int32_t stage, std::span<TMosaicWorkerBlock> blocks) {
    if (stage == 1) {
      // Where each row's line variances start.
      int64_t total = 0;
      st->LineStart.assign(st->LineCount.size(), 0);
      for (size_t y = 0; y < st->LineCount.size(); ++y) {
        st->LineStart[y] = int32_t(total);
        total += st->LineCount[y];
      }
      st->LineH.assign(size_t(total), 0.0);
      st->LineV.assign(size_t(total), 0.0);
      st->LineColumn.assign(size_t(total), 0);
    }
    if (stage == FirstPassStage - 1) {
      // Passes: the largest row count over rows 2 .. height - 3, at most seven.
      const TKimmelView v(*blocks.front().Job);
      int32_t passes = 0;
      for (int32_t y = 2; y <= v.H - 3; ++y) passes = std::max<int32_t>(passes, st->Row[size_t(y)]);
      st->Passes = std::min(passes, MaxPasses);
      if (st->Passes > 0) {
        const size_t cells = size_t(st->HalfWidth) * size_t((v.H + 1) / 2);
        st->OldRed.assign(cells, 0.0f);
        st->OldBlue.assign(cells, 0.0f);
      }
    }
    if (stage >= FirstPassStage && (stage - FirstPassStage) % PassStages == PpLines) {  // before a pass's greens
      st->NextGroup.store(0);
      for (int32_t g = 0; g < st->Groups; ++g) st->Progress[size_t(g)].store(INT_MIN);
    }
  };
  return method;
}

}  // namespace astrelon
