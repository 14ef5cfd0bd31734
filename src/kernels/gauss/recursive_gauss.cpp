// fGauss on one plane: the third-order recursion of Young and van Vliet run
// forward and backward down every column of the rectangle, then along every
// row of the column pass's output.
//
// Lines are worked side by side, one value of every line per step: the column
// pass takes blocks of 32 neighbouring columns straight from the plane, row by
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

#include "kernels/gauss/filter_rows.h"
#include "kernels/gauss/gauss_filters.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

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

constexpr int32_t ColumnBlock = 32;  // columns worked side by side
constexpr int32_t RowBlock = 16;     // rows worked side by side

using namespace simd;

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
  // The backward results of the last four rows.
  std::vector<double> Ring;
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
    Ring.resize(size_t(4) * size_t(lanes));
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
[[gnu::always_inline]] inline V LoadF(const float* p) {
  return simd::LoadWidened<V>(p);
}
// The coefficients held in registers, as plain values and as vectors (loading
// them from memory inside the loops would be repeated at every step, since the
// compiler cannot tell them apart from the work line).
struct TSteps {
  double B, C1, C2, C3;
  TVec4d B4, C14, C24, C34;
  explicit TSteps(const TRecursion& r)
      : B(r.B), C1(r.C1), C2(r.C2), C3(r.C3), B4(Splat<TVec4d>(r.B)), C14(Splat<TVec4d>(r.C1)),
        C24(Splat<TVec4d>(r.C2)), C34(Splat<TVec4d>(r.C3)) {}

  template <class V>
  [[gnu::always_inline]] V operator()(V x, V h1, V h2, V h3) const {
    if constexpr (LaneCount<V> == 1)
      return ((B * x + C3 * h3) + C2 * h2) + C1 * h1;
    else
      return ((B4 * x + C34 * h3) + C24 * h2) + C14 * h1;
  }
};

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
  const TSteps step(r);
  const TVec4d limit4 = Splat<TVec4d>(double(BlankLimit));
  for (int32_t i = g.MinStart; i < g.Count + 3; ++i) {
    const bool inside = i < g.Count, masked = i < g.MaxStart;
    const float* in = g.In + i * g.InStep;
    double* w = g.Row(i);
    if (g.FromPlane && inside) {
      if (i + FetchAhead < g.Count)
        for (int32_t l = 0; l < L; l += 16) __builtin_prefetch(in + FetchAhead * g.InStep + l);
      std::memcpy(g.Kept.data() + size_t(i) * size_t(L), in, size_t(L) * sizeof(float));
    }
    ForLanes<Vec>(L, [&]<class V>(int32_t l) __attribute__((always_inline)) {
      V x = LoadLanes<V>(&g.Last[size_t(l)]);
      if (inside) {
        const V v = LoadF<V>(in + l);
        if constexpr (LaneCount<V> == 1)
          x = v > double(BlankLimit) ? v : x;
        else
          x = v > limit4 ? v : x;
        StoreLanes(&g.Last[size_t(l)], x);
      }
      V out = step(x, LoadLanes<V>(w + l - L), LoadLanes<V>(w + l - 2 * L), LoadLanes<V>(w + l - 3 * L));
      if (masked) out = Splat<V>(double(i)) < LoadLanes<V>(&g.StartAt[size_t(l)]) ? LoadLanes<V>(&g.Mean[size_t(l)]) : out;
      StoreLanes(w + l, out);
    });
  }
}

// The backward run over rows Count - 1 down to MinStart; after each row
// row(i, w) takes its results w (lane l at w[l]). The results wait for the next
// three rows in a ring of four rows instead of going back to the work line.
template <bool Vec, class R>
[[gnu::always_inline]] inline void Backward(TLineBlock& g, const TRecursion& r, R&& row) {
  const int32_t L = g.Lanes;
  const TSteps step(r);
  double* ring = g.Ring.data();
  auto slot = [&](int32_t i) __attribute__((always_inline)) { return ring + size_t(i & 3) * size_t(L); };
  for (int32_t e = 0; e < 3; ++e) std::memcpy(slot(g.Count + e), g.Row(g.Count + e), size_t(L) * sizeof(double));
  for (int32_t i = g.Count - 1; i >= g.MinStart; --i) {
    const double* w = g.Row(i);
    double* o = slot(i);
    const double* h1 = slot(i + 1);
    const double* h2 = slot(i + 2);
    const double* h3 = slot(i + 3);
    ForLanes<Vec>(L, [&]<class V>(int32_t l) __attribute__((always_inline)) {
      StoreLanes(o + l, step(LoadLanes<V>(w + l), LoadLanes<V>(h1 + l), LoadLanes<V>(h2 + l), LoadLanes<V>(h3 + l)));
    });
    row(i, static_cast<const double*>(o));
  }
}

// The column pass of one block: the blur where the source is valid, -1e11 where
// it is blank; rows above a column's start are left as they are.
template <bool Vec>
[[gnu::always_inline]] inline void ColumnBlockPass(TLineBlock& g, const TRecursion& r, float* out,
                                                   ptrdiff_t outStep) {
  Forward<Vec>(g, r);
  Backward<Vec>(g, r, [&](int32_t i, const double* w) __attribute__((always_inline)) {
    const float* in = g.Kept.data() + size_t(i) * size_t(g.Lanes);
    float* o = out + i * outStep;
    if (i >= FetchAhead)
      for (int32_t l = 0; l < g.Lanes; l += 16) __builtin_prefetch(o - FetchAhead * outStep + l, 1);
    int32_t l = 0;
    if (i >= g.MaxStart) {
      // Every lane has started: the blur where valid, else -1e11.
      if constexpr (Vec) {
        const TVec4f limit = TVec4f{} + BlankLimit, blank = TVec4f{} + BlankPixel;
        for (; l + 4 <= g.Lanes; l += 4) {
          TVec4f v;
          std::memcpy(&v, in + l, sizeof v);
          const TVec4f f = __builtin_convertvector(LoadLanes<TVec4d>(w + l), TVec4f);
          const TVec4f res = v > limit ? f : blank;
          std::memcpy(o + l, &res, sizeof res);
        }
      }
      for (; l < g.Lanes; ++l) o[l] = IsValidPixel(in[l]) ? float(w[l]) : BlankPixel;
      return;
    }
    for (; l < g.Lanes; ++l) {
      if (i >= g.Start[size_t(l)]) o[l] = IsValidPixel(in[l]) ? float(w[l]) : BlankPixel;
    }
  });
}

// The row pass of one block of rows, whose values (the column pass's output)
// lie interleaved in g.In: the recursion, then into Out (interleaved too) the
// result mixed with the source (Src, interleaved) where the source is valid,
// elsewhere the value the destination keeps (Keep, interleaved).
struct TRowMix {
  const float* Src = nullptr;
  const float* Keep = nullptr;
  float* Out = nullptr;
  double Strength = 1;
};

template <bool Vec>
[[gnu::always_inline]] inline void RowBlockPass(TLineBlock& g, const TRecursion& r, const TRowMix& m) {
  Forward<Vec>(g, r);
  const double s = m.Strength, t = 1.0 - s;
  const int32_t L = g.Lanes;
  // Before the first start every source value is blank.
  std::memcpy(m.Out, m.Keep, size_t(g.MinStart) * size_t(L) * sizeof(float));
  Backward<Vec>(g, r, [&](int32_t i, const double* w) __attribute__((always_inline)) {
    const size_t at = size_t(i) * size_t(L);
    const float* src = m.Src + at;
    const float* keep = m.Keep + at;
    float* out = m.Out + at;
    int32_t l = 0;
    if constexpr (Vec) {
      const TVec4f limit = TVec4f{} + BlankLimit;
      for (; l + 4 <= L; l += 4) {
        TVec4f v, kept;
        std::memcpy(&v, src + l, sizeof v);
        std::memcpy(&kept, keep + l, sizeof kept);
        const TVec4d wd = LoadLanes<TVec4d>(w + l);
        const TVec4d mixed =
            s == 1.0 ? wd : Splat<TVec4d>(s) * wd + Splat<TVec4d>(t) * __builtin_convertvector(v, TVec4d);
        const TVec4f res = v > limit ? __builtin_convertvector(mixed, TVec4f) : kept;
        std::memcpy(out + l, &res, sizeof res);
      }
    }
    for (; l < L; ++l) {
      const float v = src[l];
      out[l] = IsValidPixel(v) ? float(s == 1.0 ? w[l] : s * w[l] + t * v) : keep[l];
    }
  });
}

using TColumnFn = void (*)(TLineBlock&, const TRecursion&, float*, ptrdiff_t);
using TRowFn = void (*)(TLineBlock&, const TRecursion&, const TRowMix&);

void ColumnsScalar(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s) { ColumnBlockPass<false>(g, r, o, s); }
void ColumnsSse2(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s) { ColumnBlockPass<true>(g, r, o, s); }
void RowsScalar(TLineBlock& g, const TRecursion& r, const TRowMix& m) { RowBlockPass<false>(g, r, m); }
void RowsSse2(TLineBlock& g, const TRecursion& r, const TRowMix& m) { RowBlockPass<true>(g, r, m); }
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ColumnsAvx2(TLineBlock& g, const TRecursion& r, float* o, ptrdiff_t s) {
  ColumnBlockPass<true>(g, r, o, s);
}
ASTRELON_AVX2 void RowsAvx2(TLineBlock& g, const TRecursion& r, const TRowMix& m) {
  RowBlockPass<true>(g, r, m);
}
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

// Copies the rows [0, rows) and columns [0, cols) of a tile at `from` (rows
// fromStride apart) transposed to `to` (rows toStride apart): value (row k,
// column i) goes to to[i * toStride + k]. Blocks of 4 x 4 go through vector
// shuffles.
void Transpose(const float* from, ptrdiff_t fromStride, int32_t rows, int32_t cols, float* to, ptrdiff_t toStride) {
  int32_t k = 0;
  for (; k + 4 <= rows; k += 4) {
    int32_t i = 0;
    for (; i + 4 <= cols; i += 4) {
      const float* f = from + k * fromStride + i;
      TVec4f a, b, c, d;
      std::memcpy(&a, f, 16);
      std::memcpy(&b, f + fromStride, 16);
      std::memcpy(&c, f + 2 * fromStride, 16);
      std::memcpy(&d, f + 3 * fromStride, 16);
      const TVec4f ab0 = __builtin_shufflevector(a, b, 0, 4, 1, 5), ab1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
      const TVec4f cd0 = __builtin_shufflevector(c, d, 0, 4, 1, 5), cd1 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
      const TVec4f r0 = __builtin_shufflevector(ab0, cd0, 0, 1, 4, 5), r1 = __builtin_shufflevector(ab0, cd0, 2, 3, 6, 7);
      const TVec4f r2 = __builtin_shufflevector(ab1, cd1, 0, 1, 4, 5), r3 = __builtin_shufflevector(ab1, cd1, 2, 3, 6, 7);
      float* t = to + i * toStride + k;
      std::memcpy(t, &r0, 16);
      std::memcpy(t + toStride, &r1, 16);
      std::memcpy(t + 2 * toStride, &r2, 16);
      std::memcpy(t + 3 * toStride, &r3, 16);
    }
    for (; i < cols; ++i)
      for (int32_t j = k; j < k + 4; ++j) to[i * toStride + j] = from[j * fromStride + i];
  }
  for (; k < rows; ++k)
    for (int32_t i = 0; i < cols; ++i) to[i * toStride + k] = from[k * fromStride + i];
}

}  // namespace

bool RecursiveGaussPlane(const TGaussPlane& plane, float radius, int32_t strength, const TGaussPlaneRun& run) {
  if (!GaussPlaneUsable(plane)) return true;
  const int32_t W = plane.Width;
  const TWorkRect rc = plane.Rect;
  const TRecursion rec = MakeRecursion(radius);
  const double s = std::clamp(strength, 0, 100) / 100.0;
  const TPaths paths = ChoosePaths(run.Vector);
  const int32_t rw = rc.x2 - rc.x1 + 1, rh = rc.y2 - rc.y1 + 1;
  const float* src = plane.Source.data();
  float* dst = plane.Destination.data();
  const bool inPlace = src == dst;

  // The column pass writes into the destination, or into a plane of the
  // rectangle's size when filtering in place.
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
          paths.Columns(g, rec, colOut + x0, colStep);
        }
      },
      [&](int64_t last) { return percent(50.0 * double(last + 1) / double(blocks)); });
  if (!go) return false;
  const int32_t latestStart = *std::max_element(colStart.begin(), colStart.end());

  // Row pass: 16 rows gathered side by side (the column pass's output, the
  // source and, in place, nothing more: the source is what blank pixels keep);
  // the result, mixed with the source where it is valid, is scattered back.
  const int64_t rowBlocks = (rh + RowBlock - 1) / RowBlock;
  go = ForEachChunk(
      0, rowBlocks, int64_t(rw) * RowBlock,
      [&](int64_t first, int64_t last) {
        TLineBlock g;
        std::vector<float> raw, line, source, out;
        for (int64_t b = first; b < last; ++b) {
          const int32_t r0 = int32_t(b * RowBlock);
          const int32_t lanes = std::min(RowBlock, rh - r0);
          const size_t n = size_t(rw) * size_t(lanes);
          g.Size(rw, lanes);
          raw.resize(n);
          source.resize(n);
          out.resize(n);
          Transpose(colOut + r0 * colStep, colStep, lanes, rw, raw.data(), lanes);
          Transpose(src + size_t(rc.y1 + r0) * W + rc.x1, W, lanes, rw, source.data(), lanes);
          g.In = raw.data();
          if (r0 < latestStart) {
            // Rows above a column's first written row read as blank.
            line = raw;
            for (int32_t i = 0; i < rw; ++i)
              for (int32_t l = 0; l < lanes && r0 + l < colStart[size_t(i)]; ++l) line[size_t(i) * lanes + l] = BlankPixel;
            g.In = line.data();
          }
          g.InStep = lanes;
          FindStarts(g, rec.InitialCount);
          paths.Rows(g, rec, {source.data(), inPlace ? source.data() : raw.data(), out.data(), s});
          Transpose(out.data(), lanes, rw, lanes, dst + size_t(rc.y1 + r0) * W + rc.x1, W);
        }
      },
      [&](int64_t last) { return percent(50.0 + 50.0 * double(last + 1) / double(rowBlocks)); });
  return go;
}

}  // namespace astrelon
