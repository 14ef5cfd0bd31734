// Gauss and sGauss on one plane: a pass down the columns into a temporary plane,
// then a pass along the rows into the destination, each pixel the weighted mean
// of the valid pixels (sGauss: of those close in value to the centre) within the
// half window. The column pass covers the rectangle widened by the half window
// (clipped to the image), so that the row pass near the rectangle's sides reads
// filtered values and not empty ones.
//
// Gauss sums in a fixed order: the centre, then for k = 1..n the pair at -k and
// +k added first and weighted together (blank or outside pixels count as 0 with
// weight 0). Where no pixel of a window is blank the same sums run without the
// masks; the vector loops (eight lanes, SSE2 or AVX2) compute every lane exactly
// as the scalar loop computes its pixel.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/filter_rows.h"
#include "filters/gauss_filters.h"
#include "platform/simd_support.h"

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

typedef float TVec8f __attribute__((vector_size(32)));

template <class V>
constexpr int LanesOf = int(sizeof(V) / sizeof(float));

template <class V>
[[gnu::always_inline]] inline V Splat(float f) {
  if constexpr (LanesOf<V> == 1)
    return f;
  else
    return V{} + f;
}
template <class V>
[[gnu::always_inline]] inline V Load(const float* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
[[gnu::always_inline]] inline void Store(float* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

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

// B x lanes(V) neighbouring outputs of one line: the centre at `centre`, the
// window's other pixels `step` apart; `before` and `after` taps exist on each
// side (at most n). `blankStays`: a blank centre is copied (the row pass).
// `full`: the window has no blank and both sides reach n.
template <class V, int B>
[[gnu::always_inline]] inline void Convolve(const float* centre, ptrdiff_t step, int32_t before, int32_t after,
                                            const TTaps& t, bool full, bool blankStays, float* out) {
  constexpr int L = LanesOf<V>;
  const V zero = Splat<V>(0.0f), one = Splat<V>(1.0f), limit = Splat<V>(BlankLimit);
  V c[B], s[B];
  for (int b = 0; b < B; ++b) c[b] = Load<V>(centre + b * L);
  if (full) {
    for (int b = 0; b < B; ++b) s[b] = Splat<V>(t.W[0]) * c[b];
    for (int32_t k = 1; k <= t.N; ++k) {
      const V wk = Splat<V>(t.W[k]);
      const float* lo = centre - k * step;
      const float* hi = centre + k * step;
      for (int b = 0; b < B; ++b) s[b] += wk * (Load<V>(lo + b * L) + Load<V>(hi + b * L));
    }
    const V ws = Splat<V>(t.FullWeight);
    for (int b = 0; b < B; ++b) Store(out + b * L, s[b] / ws);
    return;
  }
  V ws[B];
  for (int b = 0; b < B; ++b) {
    const auto valid = c[b] > limit;
    s[b] = Splat<V>(t.W[0]) * (valid ? c[b] : zero);
    ws[b] = Splat<V>(t.W[0]) * (valid ? one : zero);
  }
  for (int32_t k = 1; k <= t.N; ++k) {
    const V wk = Splat<V>(t.W[k]);
    for (int b = 0; b < B; ++b) {
      V lo = zero, mlo = zero, hi = zero, mhi = zero;
      if (k <= before) {
        const V v = Load<V>(centre - k * step + b * L);
        const auto m = v > limit;
        lo = m ? v : zero;
        mlo = m ? one : zero;
      }
      if (k <= after) {
        const V v = Load<V>(centre + k * step + b * L);
        const auto m = v > limit;
        hi = m ? v : zero;
        mhi = m ? one : zero;
      }
      s[b] += wk * (lo + hi);
      ws[b] += wk * (mlo + mhi);
    }
  }
  for (int b = 0; b < B; ++b) {
    V r = ws[b] > zero ? s[b] / ws[b] : c[b];
    if (blankStays) r = c[b] > limit ? r : c[b];
    Store(out + b * L, r);
  }
}

constexpr int BlockLanes = 32;  // four vectors of eight lanes

// Outputs of the image columns [from, to) of one line: line[x - from] is the
// centre of column x, out[x - from] its output. `edge(x, before, after)` gives
// the taps on each side of column x; the vector loop takes blocks inside
// [innerFrom, innerTo), where every lane of a block has the same taps.
template <class V, int B, class E>
[[gnu::always_inline]] inline void ConvolveRun(const float* line, ptrdiff_t step, float* out, int32_t from, int32_t to,
                                               int32_t innerFrom, int32_t innerTo, const TTaps& t, bool noBlank,
                                               bool blankStays, E edge) {
  auto one = [&](int32_t x) {
    int32_t before = 0, after = 0;
    edge(x, before, after);
    const bool full = noBlank && before == t.N && after == t.N;
    Convolve<float, 1>(line + (x - from), step, before, after, t, full, blankStays, out + (x - from));
  };
  int32_t x = from;
  if constexpr (B > 0) {
    const int32_t a = std::clamp(innerFrom, from, to), e = std::clamp(innerTo, a, to);
    for (; x < a; ++x) one(x);
    for (; x + BlockLanes <= e; x += BlockLanes) {
      int32_t before = 0, after = 0;
      edge(x, before, after);
      const bool full = noBlank && before == t.N && after == t.N;
      Convolve<V, B>(line + (x - from), step, before, after, t, full, blankStays, out + (x - from));
    }
  }
  for (; x < to; ++x) one(x);
}

// One pass: output row y holds the image columns [From, To) at Out + (y - Y0)
// * OutStride. Column pass: the centre of (x, y) is the source pixel. Row pass:
// the centre of (x, y) lies at Line + (y - Y0) * LineStride + (x - LineX0), the
// temporary row, whose taps reach as far as the image allows.
struct TConvPass {
  bool Columns = true;
  const float* Line = nullptr;
  ptrdiff_t LineStride = 0;
  int32_t LineX0 = 0;
  float* Out = nullptr;
  ptrdiff_t OutStride = 0;
  int32_t Y0 = 0;
  int32_t Width = 0, Height = 0;  // of the image
  int32_t From = 0, To = 0;
  TTaps Taps;

  const float* Centre(int64_t y) const {
    return Columns ? Line + y * LineStride + From : Line + (y - Y0) * LineStride + (From - LineX0);
  }
  float* Output(int64_t y) const { return Out + (y - Y0) * OutStride; }
  // Taps on each side of (x, y).
  void Reach(int64_t y, int32_t x, int32_t& before, int32_t& after) const {
    const int32_t n = Taps.N;
    if (Columns) {
      before = int32_t(std::min<int64_t>(n, y));
      after = int32_t(std::min<int64_t>(n, Height - 1 - y));
    } else {
      before = std::min(n, x);
      after = std::min(n, Width - 1 - x);
    }
  }
};

// The rows [y0, y1) of a pass of Gauss. blankCount counts the source rows with a
// blank (running sum); the column pass marks the temporary rows with a blank in
// rowBlank, which the row pass reads.
template <class V, int B>
[[gnu::always_inline]] inline void ConvolveRows(const TConvPass& p, int64_t y0, int64_t y1,
                                                const std::vector<int32_t>& blankCount, std::vector<uint8_t>& rowBlank) {
  const int32_t n = p.Taps.N;
  for (int64_t y = y0; y < y1; ++y) {
    float* out = p.Output(y);
    auto edge = [&](int32_t x, int32_t& before, int32_t& after) { p.Reach(y, x, before, after); };
    if (p.Columns) {
      int32_t before = 0, after = 0;
      p.Reach(y, 0, before, after);
      const bool noBlank = blankCount[size_t(y + after + 1)] == blankCount[size_t(y - before)];
      ConvolveRun<V, B>(p.Centre(y), p.LineStride, out, p.From, p.To, p.From, p.To, p.Taps, noBlank, false, edge);
      bool blank = false;
      for (int32_t i = 0; i < p.To - p.From; ++i) blank |= !IsValidPixel(out[i]);
      rowBlank[size_t(y)] = blank;
    } else {
      ConvolveRun<V, B>(p.Centre(y), 1, out, p.From, p.To, n, p.Width - n, p.Taps, !rowBlank[size_t(y)], true, edge);
    }
  }
}

using TRowsFn = void (*)(const TConvPass&, int64_t, int64_t, const std::vector<int32_t>&, std::vector<uint8_t>&);

void RowsScalar(const TConvPass& p, int64_t a, int64_t b, const std::vector<int32_t>& c, std::vector<uint8_t>& r) {
  ConvolveRows<float, 0>(p, a, b, c, r);
}
void RowsSse2(const TConvPass& p, int64_t a, int64_t b, const std::vector<int32_t>& c, std::vector<uint8_t>& r) {
  ConvolveRows<TVec8f, 4>(p, a, b, c, r);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void RowsAvx2(const TConvPass& p, int64_t a, int64_t b, const std::vector<int32_t>& c,
                            std::vector<uint8_t>& r) {
  ConvolveRows<TVec8f, 4>(p, a, b, c, r);
}
#endif

TRowsFn ChooseRows(bool vector) {
  if (!vector) return RowsScalar;
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(true)) return RowsAvx2;
#endif
  return RowsSse2;
}

// sGauss: the neighbours at -before..after of a line whose centre is c count
// when valid and closer to c than the threshold; a blank centre is copied.
float SelectivePixel(const float* centre, ptrdiff_t step, int32_t before, int32_t after, const TGaussWeights& w,
                     float threshold) {
  const float c = *centre;
  if (!IsValidPixel(c)) return c;
  float s = 0, ws = 0;
  for (int32_t k = -before; k <= after; ++k) {
    const float v = centre[k * step];
    if (k == 0 || (IsValidPixel(v) && std::fabs(v - c) < threshold)) {
      const float wk = w[size_t(std::abs(k))];
      s += wk * v;
      ws += wk;
    }
  }
  return ws > 0 ? s / ws : c;
}

// The two passes with the temporary plane; `rows(pass, y0, y1)` computes the
// outputs of the rows [y0, y1) of a pass.
template <class R>
bool TwoPasses(const TGaussPlane& plane, const TTaps& taps, const TGaussPlaneRun& run, R&& rows) {
  const int32_t n = taps.N;
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  if (W < 1 || H < 1 || rc.x1 < 0 || rc.y1 < 0 || rc.x2 >= W || rc.y2 >= H || rc.x1 > rc.x2 || rc.y1 > rc.y2)
    return true;
  CheckRect(plane.Source.size(), W, H, W);
  CheckRect(plane.Destination.size(), W, H, W);
  const int32_t xa = std::max(0, rc.x1 - n), xb = std::min(W - 1, rc.x2 + n);
  const int32_t tw = xb - xa + 1, rh = rc.y2 - rc.y1 + 1;
  std::vector<float> temp(size_t(tw) * size_t(rh));
  auto percent = [&](double done) {
    return !run.Poll || run.Poll->ContinuePercent(run.PlaneIndex, float(done));
  };

  TConvPass col;
  col.Line = plane.Source.data();
  col.LineStride = W;
  col.Out = temp.data();
  col.OutStride = tw;
  col.Y0 = rc.y1;
  col.Width = W;
  col.Height = H;
  col.From = xa;
  col.To = xb + 1;
  col.Taps = taps;
  if (!ForEachChunk(
          rc.y1, rc.y2 + 1, tw, [&](int64_t a, int64_t b) { rows(col, a, b); },
          [&](int64_t last) { return percent(50.0 * double(last - rc.y1 + 1) / double(rh)); }))
    return false;

  TConvPass row = col;
  row.Columns = false;
  row.Line = temp.data();
  row.LineStride = tw;
  row.LineX0 = xa;
  row.Out = plane.Destination.data() + size_t(rc.y1) * W + rc.x1;
  row.OutStride = W;
  row.From = rc.x1;
  row.To = rc.x2 + 1;
  return ForEachChunk(
      rc.y1, rc.y2 + 1, rc.x2 - rc.x1 + 1, [&](int64_t a, int64_t b) { rows(row, a, b); },
      [&](int64_t last) { return percent(50.0 + 50.0 * double(last - rc.y1 + 1) / double(rh)); });
}

}  // namespace

bool GaussPlane(const TGaussPlane& plane, float radius, const TGaussPlaneRun& run) {
  const TGaussWeights w = GaussWeightTable(radius);
  const int32_t n = GaussHalfWindow(w);
  const TTaps taps = MakeTaps(w, n);
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  // Blank pixels per source row over the columns the column pass reads, as a
  // running count, so that a window of rows without blanks is found at once.
  std::vector<int32_t> blankCount(size_t(std::max(H, 0)) + 1, 0);
  std::vector<uint8_t> rowBlank(size_t(std::max(H, 0)), 1);
  if (W >= 1 && H >= 1 && rc.x1 >= 0 && rc.x2 < W && rc.x1 <= rc.x2) {
    const int32_t xa = std::max(0, rc.x1 - n), xb = std::min(W - 1, rc.x2 + n);
    const int32_t ya = std::max(0, rc.y1 - n), yb = std::min(H - 1, rc.y2 + n);
    std::vector<uint8_t> has(size_t(H), 0);
    if (ya <= yb && plane.Source.size() >= size_t(W) * size_t(H))
      ForEachBand(yb - ya + 1, FilterThreads(int64_t(yb - ya + 1) * (xb - xa + 1)), [&](int64_t a, int64_t b) {
        for (int64_t y = ya + a; y < ya + b; ++y) {
          const float* p = plane.Source.data() + y * W;
          bool blank = false;
          for (int32_t x = xa; x <= xb; ++x) blank |= !IsValidPixel(p[x]);
          has[size_t(y)] = blank;
        }
      });
    for (int32_t y = 0; y < H; ++y) blankCount[size_t(y) + 1] = blankCount[size_t(y)] + has[size_t(y)];
  }
  const TRowsFn fn = ChooseRows(run.Vector);
  return TwoPasses(plane, taps, run,
                   [&](const TConvPass& p, int64_t a, int64_t b) { fn(p, a, b, blankCount, rowBlank); });
}

bool SelectiveGaussPlane(const TGaussPlane& plane, float radius, float threshold, const TGaussPlaneRun& run) {
  const TGaussWeights w = GaussWeightTable(radius);
  const TTaps taps{w.data(), SelectiveGaussHalfWindow(w), 0};
  return TwoPasses(plane, taps, run, [&](const TConvPass& p, int64_t a, int64_t b) {
    for (int64_t y = a; y < b; ++y) {
      const float* centre = p.Centre(y);
      float* out = p.Output(y);
      const ptrdiff_t step = p.Columns ? p.LineStride : 1;
      for (int32_t x = p.From; x < p.To; ++x) {
        int32_t before = 0, after = 0;
        p.Reach(y, x, before, after);
        out[x - p.From] = SelectivePixel(centre + (x - p.From), step, before, after, w, threshold);
      }
    }
  });
}

}  // namespace astrelon
