// Gauss and sGauss on one plane: a pass down the columns, then a pass along the
// rows of its output into the destination, each pixel the weighted mean of the
// valid pixels (sGauss: of those close in value to the centre) within the half
// window. The row pass of a row needs only that row of the column pass, so the
// two run row by row through a row buffer instead of a temporary plane. The
// column pass covers the rectangle widened by the half window (clipped to the
// image), so that the row pass near the rectangle's sides reads filtered values
// and not empty ones.
//
// Gauss sums in a fixed order: the centre, then for k = 1..n the pair at -k and
// +k added first and weighted together (blank or outside pixels count as 0 with
// weight 0). Where no pixel of a window is blank the same sums run without the
// masks; the vector loops (eight lanes, SSE2 or AVX2) compute every lane exactly
// as the scalar loop computes its pixel.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"
#include "store/planes/plane_routines.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

TGaussWeights GaussWeightTable(float radius) {
  TGaussWeights w{};
  w[0] = 1.0f;
  for (int i = 1; i < 256; ++i) {
    const double q = radius > 0 ? double(i) / double(radius) : 1e300;
    w[size_t(i)] = q > 100.0 || std::isnan(q) ? 0.0f : float(std::exp(-q * q));
  }
  return w;
}

int32_t GaussHalfWindow(const TGaussWeights& w) {
  for (int i = 0; i < 256; ++i)
    if (w[size_t(i)] < 0.01f) return i;
  return 0;
}

int32_t SelectiveGaussHalfWindow(const TGaussWeights& w) {
  for (int i = 0; i < 256; ++i)
    if (w[size_t(i)] < 0.02f) return std::max(i - 1, 1);
  return 1;
}

namespace {

using namespace simd;

// The taps of a run: weights w[0..n] and their sum over a window without blanks.
struct TTaps {
  const float* W = nullptr;
  int32_t N = 0;
  float FullWeight = 0;
};

TTaps MakeTaps(const TGaussWeights& w, int32_t n) {
  float ws = w[0] * 1.0f;
  for (int32_t k = 1; k <= n; ++k) ws += w[size_t(k)] * (1.0f + 1.0f);
  return {w.data(), n, ws};
}

// B x lanes(V) neighbouring outputs of one line: at(k) points at the window's
// pixels k taps from the centres (k = -before .. after, at most n each side).
// `blankStays`: a blank centre is copied (the row pass). `full`: the window has
// no blank and both sides reach n.
template <class V, int B, class A>
[[gnu::always_inline]] inline void Convolve(A&& at, int32_t before, int32_t after, const TTaps& t, bool full,
                                            bool blankStays, float* out) {
  constexpr int L = LaneCount<V>;
  const V zero = Splat<V>(0.0f), one = Splat<V>(1.0f), limit = Splat<V>(BlankLimit);
  V c[B], s[B];
  const float* centre = at(0);
  _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) c[b] = LoadLanes<V>(centre + b * L);
  if (full) {
    _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) s[b] = Splat<V>(t.W[0]) * c[b];
    for (int32_t k = 1; k <= t.N; ++k) {
      const V wk = Splat<V>(t.W[k]);
      const float* lo = at(-k);
      const float* hi = at(k);
      _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) s[b] += wk * (LoadLanes<V>(lo + b * L) + LoadLanes<V>(hi + b * L));
    }
    const V ws = Splat<V>(t.FullWeight);
    _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) StoreLanes(out + b * L, s[b] / ws);
    return;
  }
  V ws[B];
  _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
    const auto valid = c[b] > limit;
    s[b] = Splat<V>(t.W[0]) * (valid ? c[b] : zero);
    ws[b] = Splat<V>(t.W[0]) * (valid ? one : zero);
  }
  for (int32_t k = 1; k <= t.N; ++k) {
    const V wk = Splat<V>(t.W[k]);
    const float* pl = k <= before ? at(-k) : nullptr;
    const float* ph = k <= after ? at(k) : nullptr;
    _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
      V lo = zero, mlo = zero, hi = zero, mhi = zero;
      if (pl) {
        const V v = LoadLanes<V>(pl + b * L);
        const auto m = v > limit;
        lo = m ? v : zero;
        mlo = m ? one : zero;
      }
      if (ph) {
        const V v = LoadLanes<V>(ph + b * L);
        const auto m = v > limit;
        hi = m ? v : zero;
        mhi = m ? one : zero;
      }
      s[b] += wk * (lo + hi);
      ws[b] += wk * (mlo + mhi);
    }
  }
  _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
    V r = ws[b] > zero ? s[b] / ws[b] : c[b];
    if (blankStays) r = c[b] > limit ? r : c[b];
    StoreLanes(out + b * L, r);
  }
}

constexpr int BlockLanes = 64;  // eight vectors of eight lanes

// Outputs of the image columns [from, to) of one line into out[x - from]:
// tap(x, k) points at the pixel k taps from column x's centre, edge(x, before,
// after) gives the taps on each side. The vector loop takes blocks inside
// [innerFrom, innerTo), where every lane of a block has the same taps.
template <class V, int B, class T, class E>
[[gnu::always_inline]] inline void ConvolveRun(T&& tap, float* out, int32_t from, int32_t to, int32_t innerFrom,
                                               int32_t innerTo, const TTaps& t, bool noBlank, bool blankStays,
                                               E&& edge) {
  auto run = [&]<class U, int C>(int32_t x) __attribute__((always_inline)) {
    int32_t before = 0, after = 0;
    edge(x, before, after);
    const bool full = noBlank && before == t.N && after == t.N;
    Convolve<U, C>([&](int32_t k) __attribute__((always_inline)) { return tap(x, k); }, before, after, t, full,
                   blankStays, out + (x - from));
  };
  int32_t x = from;
  if constexpr (B > 0) {
    const int32_t a = std::clamp(innerFrom, from, to), e = std::clamp(innerTo, a, to);
    for (; x < a; ++x) run.template operator()<float, 1>(x);
    for (; x + BlockLanes <= e; x += BlockLanes) run.template operator()<V, B>(x);
  }
  for (; x < to; ++x) run.template operator()<float, 1>(x);
}

// Whether any of n values is blank: the valid values are counted four at a
// time (a true comparison counts -1).
inline bool AnyBlank(const float* p, int32_t n) {
  int32_t i = 0;
  TVec4i count{};
  const TVec4f limit = TVec4f{} + BlankLimit;
  for (; i + 4 <= n; i += 4) {
    TVec4f v;
    std::memcpy(&v, p + i, sizeof v);
    count += v > limit;
  }
  if (count[0] + count[1] + count[2] + count[3] != -i) return true;
  for (; i < n; ++i)
    if (!IsValidPixel(p[i])) return true;
  return false;
}

// The two passes of a band of rows: for each row, the column pass over the
// rectangle's columns widened by the half window, into a row buffer, then the
// row pass from that buffer into the destination row. Source rows are read
// through Rows(y) (the plane, or a copy of it when filtering in place), the
// pixel of column x at Rows(y)[x - Xa].
struct TPasses {
  const float* Src = nullptr;
  ptrdiff_t SrcStride = 0;
  int32_t SrcY0 = 0;               // row held at Src
  int32_t Width = 0, Height = 0;   // of the image
  int32_t Xa = 0, Xb = 0;          // columns of the column pass
  TWorkRect Rect;                  // outputs of the row pass
  float* Dst = nullptr;            // the destination plane, Width per row
  TTaps Taps;

  const float* Rows(int64_t y) const { return Src + (y - SrcY0) * SrcStride; }
  int32_t Before(int64_t y) const { return int32_t(std::min<int64_t>(Taps.N, y)); }
  int32_t After(int64_t y) const { return int32_t(std::min<int64_t>(Taps.N, Height - 1 - y)); }
};

// Gauss over the rows [y0, y1). blankCount counts the source rows with a blank
// over the columns Xa..Xb (running sum), so that a window of rows without
// blanks is found at once.
template <class V, int B>
[[gnu::always_inline]] inline void GaussRows(const TPasses& p, int64_t y0, int64_t y1,
                                             const std::vector<int32_t>& blankCount) {
  const int32_t n = p.Taps.N, tw = p.Xb - p.Xa + 1;
  std::vector<float> line(static_cast<size_t>(tw));
  std::vector<const float*> rows(static_cast<size_t>(2 * n + 1));
  for (int64_t y = y0; y < y1; ++y) {
    const int32_t before = p.Before(y), after = p.After(y);
    for (int32_t k = -before; k <= after; ++k) rows[size_t(n + k)] = p.Rows(y + k);
    const bool noBlank = blankCount[size_t(y + after + 1)] == blankCount[size_t(y - before)];
    auto colTap = [&](int32_t x, int32_t k) __attribute__((always_inline)) { return rows[size_t(n + k)] + (x - p.Xa); };
    auto colEdge = [&](int32_t, int32_t& b, int32_t& a) __attribute__((always_inline)) {
      b = before;
      a = after;
    };
    ConvolveRun<V, B>(colTap, line.data(), p.Xa, p.Xb + 1, p.Xa, p.Xb + 1, p.Taps, noBlank, false, colEdge);
    const bool lineFull = !AnyBlank(line.data(), tw);
    auto rowTap = [&](int32_t x, int32_t k) __attribute__((always_inline)) { return line.data() + (x - p.Xa) + k; };
    auto rowEdge = [&](int32_t x, int32_t& b, int32_t& a) __attribute__((always_inline)) {
      b = std::min(n, x);
      a = std::min(n, p.Width - 1 - x);
    };
    ConvolveRun<V, B>(rowTap, p.Dst + y * p.Width + p.Rect.x1, p.Rect.x1, p.Rect.x2 + 1, n, p.Width - n, p.Taps,
                      lineFull, true, rowEdge);
  }
}

using TRowsFn = void (*)(const TPasses&, int64_t, int64_t, const std::vector<int32_t>&);

void RowsScalar(const TPasses& p, int64_t a, int64_t b, const std::vector<int32_t>& c) { GaussRows<float, 0>(p, a, b, c); }
void RowsSse2(const TPasses& p, int64_t a, int64_t b, const std::vector<int32_t>& c) { GaussRows<TVec8f, 8>(p, a, b, c); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RowsAvx2(const TPasses& p, int64_t a, int64_t b, const std::vector<int32_t>& c) {
  GaussRows<TVec8f, 8>(p, a, b, c);
}
#endif

TRowsFn ChooseRows(bool vector) {
  if (!vector) return RowsScalar;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(true)) return RowsAvx2;
#endif
  return RowsSse2;
}

// The taps of one line of sGauss: tap k (−N .. N) of the output at offset i
// reads Taps[N + k][i].
struct TSelectiveTaps {
  const float* const* Taps = nullptr;
  int32_t N = 0;
  const float* W = nullptr;
  float Threshold = 0;
};

// |x| by clearing the sign bit (as fabs does).
template <class V>
[[gnu::always_inline]] inline V AbsOf(V x) {
  if constexpr (LaneCount<V> == 1) {
    return std::fabs(x);
  } else {
    typedef int32_t TBits __attribute__((vector_size(sizeof(V))));
    TBits b;
    std::memcpy(&b, &x, sizeof b);
    b &= 0x7fffffff;
    std::memcpy(&x, &b, sizeof x);
    return x;
  }
}

// SelectivePixel for B x lanes(V) neighbouring outputs from offset i that have
// the same taps −before .. after: each lane runs the scalar loop's operations
// in its order, a neighbour that does not count leaving both sums as they are,
// so every lane gets the bits of its pixel. `Blanks`: the window may hold
// blank values (they turn NaN, which is never close) and blank centres (copied).
// Each selection rests on a single comparison (GCC lowers combined masks of an
// inlined function for the default processor).
template <class V, int B, bool Blanks>
[[gnu::always_inline]] inline void SelectiveBlock(const TSelectiveTaps& t, int32_t i, int32_t before, int32_t after,
                                                  float* out) {
  constexpr int L = LaneCount<V>;
  const V thr = Splat<V>(t.Threshold);
  V c[B], s[B], ws[B];
  const float* centre = t.Taps[t.N] + i;
  _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
    c[b] = LoadLanes<V>(centre + b * L);
    s[b] = Splat<V>(0.0f);
    ws[b] = s[b];
  }
  for (int32_t k = -before; k <= after; ++k) {
    const V wk = Splat<V>(t.W[std::abs(k)]);
    if (k == 0) {
      _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
        const V p = wk * c[b];
        s[b] += p;
        ws[b] += wk;
      }
      continue;
    }
    const float* tap = t.Taps[t.N + k] + i;
    _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
      V v = LoadLanes<V>(tap + b * L);
      if constexpr (Blanks) v = v > BlankLimit ? v : std::numeric_limits<float>::quiet_NaN();
      const V d = AbsOf(v - c[b]);
      const V p = wk * v;
      s[b] = d < thr ? s[b] + p : s[b];
      ws[b] = d < thr ? ws[b] + wk : ws[b];
    }
  }
  _Pragma("GCC unroll 8") for (int b = 0; b < B; ++b) {
    V r = s[b] / ws[b];
    if constexpr (Blanks) r = c[b] > BlankLimit ? r : c[b];
    StoreLanes(out + b * L, r);
  }
}

// Outputs from..to − 1 of a line (all with the taps −before .. after) into
// out[i − from]: blocks side by side, the rest one by one.
template <class V, int B, bool Blanks>
[[gnu::always_inline]] inline void SelectiveRun(const TSelectiveTaps& t, int32_t from, int32_t to, int32_t before,
                                                int32_t after, float* out) {
  constexpr int Block = B * LaneCount<V>;
  int32_t i = from;
  for (; i + Block <= to; i += Block) SelectiveBlock<V, B, Blanks>(t, i, before, after, out + (i - from));
  for (; i < to; ++i) SelectiveBlock<float, 1, Blanks>(t, i, before, after, out + (i - from));
}

template <class V, int B>
[[gnu::always_inline]] inline void SelectiveRun(const TSelectiveTaps& t, int32_t from, int32_t to, int32_t before,
                                                int32_t after, bool blanks, float* out) {
  if (blanks)
    SelectiveRun<V, B, true>(t, from, to, before, after, out);
  else
    SelectiveRun<V, B, false>(t, from, to, before, after, out);
}

// Whether any of n values is blank (NaN too), lanes(V) at a time.
template <class V>
[[gnu::always_inline]] inline bool HasBlank(const float* p, int32_t n) {
  constexpr int L = LaneCount<V>;
  V seen = Splat<V>(0.0f);
  int32_t i = 0;
  for (; i + L <= n; i += L) {
    const V v = LoadLanes<V>(p + i);
    seen = v > BlankLimit ? seen : 1.0f;
  }
  if constexpr (L == 1) {
    if (seen != 0.0f) return true;
  } else {
    for (int l = 0; l < L; ++l)
      if (seen[l] != 0.0f) return true;
  }
  for (; i < n; ++i)
    if (!IsValidPixel(p[i])) return true;
  return false;
}

// sGauss over the rows [y0, y1): the column pass of each row into a row
// buffer (lanes across columns), then its row pass into the destination
// (lanes across the columns whose windows lie inside the image, the columns
// near its sides one by one). Each source row is looked at for blank values
// once, when the column pass first reaches it.
template <class V, int B>
[[gnu::always_inline]] inline void SelectiveRows(const TPasses& p, int64_t y0, int64_t y1, float threshold) {
  const int32_t n = p.Taps.N, tw = p.Xb - p.Xa + 1;
  std::vector<float> line(static_cast<size_t>(tw));
  std::vector<const float*> taps(static_cast<size_t>(2 * n + 1));
  TSelectiveTaps t{taps.data(), n, p.Taps.W, threshold};
  const int64_t first = std::max<int64_t>(0, y0 - n);
  std::vector<int8_t> blankRow(size_t(std::min<int64_t>(p.Height, y1 + n) - first), -1);
  for (int64_t y = y0; y < y1; ++y) {
    const int32_t before = p.Before(y), after = p.After(y);
    bool blanks = false;
    for (int32_t k = -before; k <= after; ++k) {
      taps[size_t(n + k)] = p.Rows(y + k);
      int8_t& b = blankRow[size_t(y + k - first)];
      if (b < 0) b = HasBlank<V>(p.Rows(y + k), tw) ? 1 : 0;
      blanks = blanks || b;
    }
    SelectiveRun<V, B>(t, 0, tw, before, after, blanks, line.data());
    // The row pass reads the row buffer: tap k of column x at line[x − Xa + k].
    for (int32_t k = -n; k <= n; ++k) taps[size_t(n + k)] = line.data() + k;
    const bool lineBlanks = HasBlank<V>(line.data(), tw);
    float* out = p.Dst + y * p.Width;
    const int32_t x1 = p.Rect.x1, x2 = p.Rect.x2 + 1;
    const int32_t a = std::clamp(n, x1, x2), e = std::clamp(p.Width - n, a, x2);
    auto edge = [&](int32_t x) {
      SelectiveBlock<float, 1, true>(t, x - p.Xa, std::min(n, x), std::min(n, p.Width - 1 - x), out + x);
    };
    for (int32_t x = x1; x < a; ++x) edge(x);
    SelectiveRun<V, B>(t, a - p.Xa, e - p.Xa, n, n, lineBlanks, out + a);
    for (int32_t x = e; x < x2; ++x) edge(x);
  }
}

using TSelectiveRowsFn = void (*)(const TPasses&, int64_t, int64_t, float);

void SelectiveRowsScalar(const TPasses& p, int64_t a, int64_t b, float t) { SelectiveRows<float, 1>(p, a, b, t); }
void SelectiveRowsSse2(const TPasses& p, int64_t a, int64_t b, float t) { SelectiveRows<TVec4f, 2>(p, a, b, t); }
#if ASTRELON_HAVE_AVX2
typedef float TVec16f __attribute__((vector_size(64)));
ASTRELON_AVX2 void SelectiveRowsAvx2(const TPasses& p, int64_t a, int64_t b, float t) {
  SelectiveRows<TVec8f, 2>(p, a, b, t);
}
ASTRELON_AVX512 void SelectiveRowsAvx512(const TPasses& p, int64_t a, int64_t b, float t) {
  SelectiveRows<TVec16f, 4>(p, a, b, t);
}
#endif

TSelectiveRowsFn ChooseSelectiveRows(bool vector) {
  if (!vector) return SelectiveRowsScalar;
#if ASTRELON_HAVE_AVX2
  if (UseAvx512(true)) return SelectiveRowsAvx512;
  if (UseAvx2(true)) return SelectiveRowsAvx2;
#endif
  return SelectiveRowsSse2;
}

// Sets up the passes of a plane (a copy of the source rows the column pass
// reads when filtering in place) and runs rows(passes, y0, y1) over the
// rectangle's rows in bands, with progress by rows.
template <class R>
bool RunPasses(const TGaussPlane& plane, const TTaps& taps, const TGaussPlaneRun& run, R&& rows) {
  if (!GaussPlaneUsable(plane)) return true;
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  const int32_t n = taps.N;
  TPasses p;
  p.Width = W;
  p.Height = H;
  p.Xa = std::max(0, rc.x1 - n);
  p.Xb = std::min(W - 1, rc.x2 + n);
  p.Rect = rc;
  p.Dst = plane.Destination.data();
  p.Taps = taps;
  const int32_t tw = p.Xb - p.Xa + 1;
  TPlane copy;
  if (plane.Source.data() == plane.Destination.data()) {
    const int32_t ya = std::max(0, rc.y1 - n), yb = std::min(H - 1, rc.y2 + n);
    copy.resize(size_t(yb - ya + 1) * size_t(tw));
    CopyRect32(plane.Source.subspan(size_t(ya) * W + p.Xa), copy, tw, yb - ya + 1, W, tw);
    p.Src = copy.data();
    p.SrcStride = tw;
    p.SrcY0 = ya;
  } else {
    p.Src = plane.Source.data() + p.Xa;
    p.SrcStride = W;
    p.SrcY0 = 0;
  }
  const double rh = rc.y2 - rc.y1 + 1;
  return ForEachChunk(
      rc.y1, int64_t(rc.y2) + 1, tw, [&](int64_t a, int64_t b) { rows(p, a, b); },
      [&](int64_t last) {
        return !run.Poll || run.Poll->ContinuePercent(run.PlaneIndex, float(100.0 * (last - rc.y1 + 1) / rh));
      });
}

}  // namespace

bool GaussPlane(const TGaussPlane& plane, float radius, const TGaussPlaneRun& run) {
  const TGaussWeights w = GaussWeightTable(radius);
  const int32_t n = GaussHalfWindow(w);
  const TTaps taps = MakeTaps(w, n);
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  // Source rows with a blank over the columns the column pass reads, as a
  // running count.
  std::vector<int32_t> blankCount(size_t(std::max(H, 0)) + 1, 0);
  if (W >= 1 && H >= 1 && rc.x1 >= 0 && rc.x2 < W && rc.x1 <= rc.x2 && plane.Source.size() >= size_t(W) * size_t(H)) {
    const int32_t xa = std::max(0, rc.x1 - n), xb = std::min(W - 1, rc.x2 + n);
    const int32_t ya = std::max(0, rc.y1 - n), yb = std::min(H - 1, rc.y2 + n);
    std::vector<uint8_t> has(size_t(H), 0);
    if (ya <= yb)
      ForEachBand(yb - ya + 1, FilterThreads(int64_t(yb - ya + 1) * (xb - xa + 1)), [&](int64_t a, int64_t b) {
        for (int64_t y = ya + a; y < ya + b; ++y)
          has[size_t(y)] = AnyBlank(plane.Source.data() + y * W + xa, xb - xa + 1);
      });
    for (int32_t y = 0; y < H; ++y) blankCount[size_t(y) + 1] = blankCount[size_t(y)] + has[size_t(y)];
  }
  const TRowsFn fn = ChooseRows(run.Vector);
  return RunPasses(plane, taps, run, [&](const TPasses& p, int64_t a, int64_t b) { fn(p, a, b, blankCount); });
}

bool SelectiveGaussPlane(const TGaussPlane& plane, float radius, float threshold, const TGaussPlaneRun& run) {
  const TGaussWeights w = GaussWeightTable(radius);
  const TTaps taps{w.data(), SelectiveGaussHalfWindow(w), 0};
  const TSelectiveRowsFn fn = ChooseSelectiveRows(run.Vector);
  return RunPasses(plane, taps, run, [&](const TPasses& p, int64_t y0, int64_t y1) { fn(p, y0, y1, threshold); });
}

}  // namespace astrelon
