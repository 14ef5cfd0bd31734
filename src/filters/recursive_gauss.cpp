// fGauss on one plane: the third-order recursion of Young and van Vliet run
// forward and backward down every column of the rectangle, then along every
// row of the column pass's output.
//
// Lines are worked side by side, one value of every line per step: the column
// pass takes blocks of 64 neighbouring columns straight from the plane, row by
// row; the row pass gathers 16 rows into a buffer, tile by tile. A line's
// forward results (in double) wait in a work buffer for the backward run. The
// same template runs a lane in plain double arithmetic (the scalar path) or
// four lanes per vector (SSE2, or AVX2 where allowed): every lane does the same
// operations in the same order, so every path and every split over threads
// gives the same bits.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "filters/filter_rows.h"
#include "filters/gauss_filters.h"
#include "platform/simd_support.h"

// The vector helpers are always inlined, so the calling convention of
// 32-byte vectors outside AVX code never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

TRecursiveGaussCoefficients RecursiveGaussCoefficients(float radius) {
  TRecursiveGaussCoefficients c;
  // Below a radius of about 0.455 q turns negative; 0.5 blurs next to nothing.
  const double r = std::isnan(radius) ? 0.5 : std::clamp(double(radius), 0.5, 1e6);
  c.Sigma = r / 1.49;
  c.InitialCount = int32_t(std::min(std::nearbyint(c.Sigma + 1.0), 1e9)) + 1;
  c.Q = c.Sigma <= 2.5 ? 3.97156 - 4.14554 * std::sqrt(1.0 - 0.26891 * c.Sigma) : 0.98711 * c.Sigma - 0.96330;
  const double q = c.Q, q2 = q * q, q3 = q2 * q;
  c.B0 = 1.57825 + 2.44413 * q + 1.4281 * q2 + 0.422205 * q3;
  c.B1 = 2.44413 * q + 2.8562 * q2 + 1.266615 * q3;
  c.B2 = -(1.4281 * q2 + 1.266615 * q3);
  c.B3 = 0.422205 * q3;
  c.B = 1.0 - (c.B1 + c.B2 + c.B3) / c.B0;
  return c;
}

namespace {

constexpr int32_t ColumnBlock = 64;  // columns worked side by side
constexpr int32_t RowBlock = 16;     // rows worked side by side
constexpr int32_t Tile = 16;         // columns of a gather or scatter step

typedef double TVec4d __attribute__((vector_size(32)));
typedef float TVec4f __attribute__((vector_size(16)));

template <class V>
constexpr int LanesOf = int(sizeof(V) / sizeof(double));

// w[i] = B x[i] + C1 w[i-1] + C2 w[i-2] + C3 w[i-3], Ck = bk / b0.
struct TRecursion {
  double B = 0, C1 = 0, C2 = 0, C3 = 0;
  int32_t InitialCount = 1;
};

TRecursion MakeRecursion(float radius) {
  const TRecursiveGaussCoefficients c = RecursiveGaussCoefficients(radius);
  return {c.B, c.B1 / c.B0, c.B2 / c.B0, c.B3 / c.B0, c.InitialCount};
}

// Lines side by side: value i of lane l at In[i * InStep + l].
struct TLineBlock {
  const float* In = nullptr;
  ptrdiff_t InStep = 0;
  int32_t Count = 0;
  int32_t Lanes = 0;
  // Per lane: the first valid value (Count when the line has none), as an
  // integer and as a double, the mean the recursion starts from, and the latest
  // valid value.
  std::vector<int32_t> Start;
  std::vector<double> StartAt, Mean, Last;
  int32_t MinStart = 0, MaxStart = 0;
  // w of value i of lane l at Work[(i + 3) * Lanes + l], i = -3 .. Count + 2.
  std::vector<double> Work;
  // Lines read from the plane (far apart in memory): the forward run fetches
  // rows ahead and keeps the values for the output in Kept.
  bool FromPlane = false;
  std::vector<float> Kept;

  void Size(int32_t count, int32_t lanes) {
    Count = count;
    Lanes = lanes;
    Start.resize(size_t(lanes));
    StartAt.resize(size_t(lanes));
    Mean.resize(size_t(lanes));
    Last.resize(size_t(lanes));
    Work.resize(size_t(count + 6) * size_t(lanes));
    if (FromPlane) Kept.resize(size_t(count) * size_t(lanes));
  }
  double* Row(int32_t i) { return Work.data() + size_t(i + 3) * size_t(Lanes); }
};

// Start and starting mean of each lane: past leading blanks, the mean of the
// first n + 1 values (or fewer at the end of the line), blanks taking the latest
// valid value. The history before the start holds the mean.
void FindStarts(TLineBlock& g, int32_t initialCount) {
  g.MinStart = g.Count;
  g.MaxStart = 0;
  for (int32_t l = 0; l < g.Lanes; ++l) {
    const float* p = g.In + l;
    int32_t t = 0;
    while (t < g.Count && !IsValidPixel(p[t * g.InStep])) ++t;
    double mean = 0;
    if (t < g.Count) {
      double sum = 0, last = 0;
      int32_t k = 0;
      for (; k < initialCount && t + k < g.Count; ++k) {
        const float v = p[(t + k) * g.InStep];
        if (IsValidPixel(v)) last = v;
        sum += last;
      }
      mean = sum / k;
    }
    g.Start[size_t(l)] = t;
    g.StartAt[size_t(l)] = double(t);
    g.Mean[size_t(l)] = mean;
    g.Last[size_t(l)] = mean;
    g.MinStart = std::min(g.MinStart, t);
    g.MaxStart = std::max(g.MaxStart, t);
  }
  for (int32_t i = g.MinStart - 3; i < g.MinStart; ++i) std::copy(g.Mean.begin(), g.Mean.end(), g.Row(i));
}

template <class V>
[[gnu::always_inline]] inline V Splat(double d) {
  if constexpr (LanesOf<V> == 1)
    return d;
  else
    return V{} + d;
}
template <class V>
[[gnu::always_inline]] inline V LoadF(const float* p) {
  if constexpr (LanesOf<V> == 1) {
    return double(*p);
  } else {
    TVec4f f;
    std::memcpy(&f, p, sizeof f);
    return __builtin_convertvector(f, TVec4d);
  }
}
template <class V>
[[gnu::always_inline]] inline V Load(const double* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class V>
[[gnu::always_inline]] inline void Store(double* p, V v) {
  std::memcpy(p, &v, sizeof v);
}
template <class V>
[[gnu::always_inline]] inline V Step(const TRecursion& r, V x, V h1, V h2, V h3) {
  return ((Splat<V>(r.B) * x + Splat<V>(r.C3) * h3) + Splat<V>(r.C2) * h2) + Splat<V>(r.C1) * h1;
}

// Calls step.template operator()<V>(l) for the lanes of a row: four at a time
// on the vector path, the rest (and every lane on the scalar path) one by one.
template <bool Vec, class S>
[[gnu::always_inline]] inline void ForLanes(int32_t lanes, S&& step) {
  int32_t l = 0;
  if constexpr (Vec)
    for (; l + 4 <= lanes; l += 4) step.template operator()<TVec4d>(l);
  for (; l < lanes; ++l) step.template operator()<double>(l);
}

// Rows of the plane fetched ahead of their use.
constexpr int32_t FetchAhead = 16;

// The forward run: rows MinStart .. Count - 1 and three more continuing with
// the latest valid value. Before its start a lane keeps its mean.
template <bool Vec>
[[gnu::always_inline]] inline void Forward(TLineBlock& g, const TRecursion& r) {
  const int32_t L = g.Lanes;
  for (int32_t i = g.MinStart; i < g.Count + 3; ++i) {
    const bool inside = i < g.Count, masked = i < g.MaxStart;
    const float* in = g.In + i * g.InStep;
    double* w = g.Row(i);
    if (g.FromPlane && inside) {
      if (i + FetchAhead < g.Count)
        for (int32_t l = 0; l < L; l += 16) __builtin_prefetch(in + FetchAhead * g.InStep + l);
      std::memcpy(g.Kept.data() + size_t(i) * size_t(L), in, size_t(L) * sizeof(float));
    }
    ForLanes<Vec>(L, [&]<class V>(int32_t l) {
      V x = Load<V>(&g.Last[size_t(l)]);
      if (inside) {
        const V v = LoadF<V>(in + l);
        x = v > Splat<V>(double(BlankLimit)) ? v : x;
        Store(&g.Last[size_t(l)], x);
      }
      V out = Step(r, x, Load<V>(w + l - L), Load<V>(w + l - 2 * L), Load<V>(w + l - 3 * L));
      if (masked) out = Splat<V>(double(i)) < Load<V>(&g.StartAt[size_t(l)]) ? Load<V>(&g.Mean[size_t(l)]) : out;
      Store(w + l, out);
    });
  }
}

// The backward run over rows Count - 1 down to MinStart; after each row
// `row(i)` may use it.
template <bool Vec, class R>
[[gnu::always_inline]] inline void Backward(TLineBlock& g, const TRecursion& r, R&& row) {
  const int32_t L = g.Lanes;
  for (int32_t i = g.Count - 1; i >= g.MinStart; --i) {
    double* w = g.Row(i);
    ForLanes<Vec>(L, [&]<class V>(int32_t l) {
      Store(w + l, Step(r, Load<V>(w + l), Load<V>(w + l + L), Load<V>(w + l + 2 * L), Load<V>(w + l + 3 * L)));
    });
    row(i);
  }
}

// The column pass of one block: the blur where the source is valid, -1e11 where
// it is blank; rows above a column's start keep the destination's value, or the
// source's when the output is a temporary plane (`lead`).
template <bool Vec>
[[gnu::always_inline]] inline void ColumnBlockPass(TLineBlock& g, const TRecursion& r, float* out, ptrdiff_t outStep,
                                                   bool lead) {
  Forward<Vec>(g, r);
  Backward<Vec>(g, r, [&](int32_t i) {
    const float* in = g.Kept.data() + size_t(i) * size_t(g.Lanes);
    float* o = out + i * outStep;
    if (i >= FetchAhead)
      for (int32_t l = 0; l < g.Lanes; l += 16) __builtin_prefetch(o - FetchAhead * outStep + l, 1);
    const double* w = g.Row(i);
    const bool masked = i < g.MaxStart;
    for (int32_t l = 0; l < g.Lanes; ++l) {
      if (masked && i < g.Start[size_t(l)]) {
        if (lead) o[l] = in[l];
        continue;
      }
      o[l] = IsValidPixel(in[l]) ? float(w[l]) : BlankPixel;
    }
  });
}

// The row pass of one block: only the recursion (the caller mixes and scatters).
template <bool Vec>
[[gnu::always_inline]] inline void RowBlockPass(TLineBlock& g, const TRecursion& r) {
  Forward<Vec>(g, r);
  Backward<Vec>(g, r, [](int32_t) {});
}

using TColumnFn = void (*)(TLineBlock&, const TRecursion&, float*, ptrdiff_t, bool);
using TRowFn = void (*)(TLineBlock&, const TRecursion&);

void ColumnsScalar(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s, bool lead) {
  ColumnBlockPass<false>(g, r, o, s, lead);
}
void ColumnsSse2(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s, bool lead) {
  ColumnBlockPass<true>(g, r, o, s, lead);
}
void RowsScalar(TLineBlock& g, const TRecursion& r) { RowBlockPass<false>(g, r); }
void RowsSse2(TLineBlock& g, const TRecursion& r) { RowBlockPass<true>(g, r); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ColumnsAvx2(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s, bool lead) {
  ColumnBlockPass<true>(g, r, o, s, lead);
}
ASTRELON_AVX2 void RowsAvx2(TLineBlock& g, const TRecursion& r) { RowBlockPass<true>(g, r); }
#endif

struct TPaths {
  TColumnFn Columns = ColumnsScalar;
  TRowFn Rows = RowsScalar;
};

TPaths ChoosePaths(bool vector) {
  if (!vector) return {};
#if ASTRELON_HAVE_AVX2
  if (UseAvx2(true)) return {ColumnsAvx2, RowsAvx2};
#endif
  return {ColumnsSse2, RowsSse2};
}

}  // namespace

bool RecursiveGaussPlane(const TGaussPlane& plane, float radius, int32_t strength, const TGaussPlaneRun& run) {
  const int32_t W = plane.Width, H = plane.Height;
  const TWorkRect rc = plane.Rect;
  if (W < 1 || H < 1 || rc.x1 < 0 || rc.y1 < 0 || rc.x2 >= W || rc.y2 >= H || rc.x1 > rc.x2 || rc.y1 > rc.y2)
    return true;
  CheckRect(plane.Source.size(), W, H, W);
  CheckRect(plane.Destination.size(), W, H, W);
  const TRecursion rec = MakeRecursion(radius);
  const double s = std::clamp(strength, 0, 100) / 100.0;
  const TPaths paths = ChoosePaths(run.Vector);
  const int32_t rw = rc.x2 - rc.x1 + 1, rh = rc.y2 - rc.y1 + 1;
  const float* src = plane.Source.data();
  float* dst = plane.Destination.data();
  const bool inPlace = src == dst;

  // The column pass writes into the destination, or into a plane of the
  // rectangle's size when filtering in place (rows before a column's first valid
  // value keep the source there).
  std::vector<float> temp;
  if (inPlace) temp.resize(size_t(rw) * size_t(rh));
  float* colOut = inPlace ? temp.data() : dst + size_t(rc.y1) * W + rc.x1;
  const ptrdiff_t colStep = inPlace ? rw : W;
  // First row of each column that the column pass wrote (rh: none); the row
  // pass reads the rows above it as blank, whatever the destination held there.
  std::vector<int32_t> colStart(size_t(rw), rh);
  auto percent = [&](double done) {
    return !run.Poll || run.Poll->ContinuePercent(run.PlaneIndex, float(done));
  };

  const int64_t blocks = (rw + ColumnBlock - 1) / ColumnBlock;
  bool go = ForEachChunk(
      0, blocks, int64_t(rh) * ColumnBlock,
      [&](int64_t first, int64_t last) {
        TLineBlock g;
        g.FromPlane = true;
        for (int64_t b = first; b < last; ++b) {
          const int32_t x0 = int32_t(b * ColumnBlock);
          g.Size(rh, std::min(ColumnBlock, rw - x0));
          g.In = src + size_t(rc.y1) * W + rc.x1 + x0;
          g.InStep = W;
          FindStarts(g, rec.InitialCount);
          std::copy(g.Start.begin(), g.Start.end(), colStart.begin() + x0);
          paths.Columns(g, rec, colOut + x0, colStep, inPlace);
        }
      },
      [&](int64_t last) { return percent(50.0 * double(last + 1) / double(blocks)); });
  if (!go) return false;
  const int32_t latestStart = *std::max_element(colStart.begin(), colStart.end());

  // Row pass: 16 rows gathered side by side, tile by tile; the result, mixed
  // with the source, goes to the pixels whose source is valid.
  const int64_t rowBlocks = (rh + RowBlock - 1) / RowBlock;
  go = ForEachChunk(
      0, rowBlocks, int64_t(rw) * RowBlock,
      [&](int64_t first, int64_t last) {
        TLineBlock g;
        std::vector<float> in;
        for (int64_t b = first; b < last; ++b) {
          const int32_t r0 = int32_t(b * RowBlock);
          const int32_t lanes = std::min(RowBlock, rh - r0);
          g.Size(rw, lanes);
          in.resize(size_t(rw) * size_t(lanes));
          const bool early = r0 < latestStart;
          for (int32_t i0 = 0; i0 < rw; i0 += Tile) {
            const int32_t i1 = std::min(rw, i0 + Tile);
            for (int32_t l = 0; l < lanes; ++l) {
              const float* line = colOut + (r0 + l) * colStep;
              for (int32_t i = i0; i < i1; ++i)
                in[size_t(i) * lanes + l] = early && r0 + l < colStart[size_t(i)] ? BlankPixel : line[i];
            }
          }
          g.In = in.data();
          g.InStep = lanes;
          FindStarts(g, rec.InitialCount);
          paths.Rows(g, rec);
          for (int32_t i0 = 0; i0 < rw; i0 += Tile) {
            const int32_t i1 = std::min(rw, i0 + Tile);
            for (int32_t l = 0; l < lanes; ++l) {
              const size_t at = size_t(rc.y1 + r0 + l) * W + size_t(rc.x1);
              const float* sr = src + at;
              float* dr = dst + at;
              for (int32_t i = i0; i < i1; ++i) {
                const float v = sr[i];
                if (!IsValidPixel(v)) continue;
                const double w = g.Row(i)[l];
                dr[i] = s == 1.0 ? float(w) : float(s * w + (1.0 - s) * v);
              }
            }
          }
        }
      },
      [&](int64_t last) { return percent(50.0 + 50.0 * double(last + 1) / double(rowBlocks)); });
  return go;
}

}  // namespace astrelon
