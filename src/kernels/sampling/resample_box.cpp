// Block and box averaging of a plane for reductions.
#include <algorithm>
#include <vector>

#include "kernels/sampling/resample_steps.h"
#include "platform/big_buffers.h"
#include "platform/parallel_chunks.h"

namespace astrelon {

namespace {

// Edges [e0, e1) of n boxes of width s, accumulated in float by repeated addition.
void BoxEdges(int32_t n, float s, std::vector<float>& e0, std::vector<float>& e1) {
  e0.resize(size_t(n));
  e1.resize(size_t(n));
  float a = 0, b = s;
  for (int32_t i = 0; i < n; ++i, a += s, b += s) {
    e0[size_t(i)] = a;
    e1[size_t(i)] = b;
  }
}

// The samples of n boxes of width s along a side of `length` and their weights:
// the first sample weighs what lies right of the box's start e0; a later one 1,
// the last what its counter (e0 + 1, e0 + 2, ...) leaves below the end e1.
// `unit` tells whether every box is one sample of weight 1.
TTapTable BoxSpans(int32_t n, float s, int32_t length, bool& unit) {
  std::vector<float> e0, e1;
  BoxEdges(n, s, e0, e1);
  TTapTable t;
  std::vector<float> w;
  unit = true;
  for (size_t i = 0; i < e0.size(); ++i) {
    const float b0 = e0[i], b1 = e1[i];
    int32_t j = int32_t(b0);
    const int32_t first = j;
    w.clear();
    for (float c = b0; j < length && c < b1; ++j, c += 1) {
      float wgt = float(j) - b0 + 1;
      if (wgt > 1) wgt = std::min(b1 - c, 1.0f);
      w.push_back(wgt);
    }
    t.Add(first, int32_t(w.size()), w.data());
    unit = unit && w.size() == 1 && w[0] == 1.0f;
  }
  return t;
}

}  // namespace

TAxisPlan BlockPlan(TResampleAxis axis, int32_t length, int32_t factor) {
  // Blocks are taps of weight 1: the mean of the valid ones, blank when none is.
  const int32_t n = length / factor;
  const std::vector<float> ones(static_cast<size_t>(factor), 1.0f);
  TAxisPlan plan(axis, length, n);
  plan.MinWeight = 0.0;
  for (int32_t i = 0; i < n; ++i) plan.A.Add(i * factor, factor, ones.data());
  return plan;
}

std::optional<TAxisPlan> BoxPlan(int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh) {
  bool unitColumns, unitRows;
  TTapTable columns = BoxSpans(nw, sx, w, unitColumns), rows = BoxSpans(nh, sy, h, unitRows);
  if (!unitColumns && !unitRows) return std::nullopt;
  // Boxes one sample wide (or high) are weighted means along the other axis.
  TAxisPlan plan(unitColumns ? TResampleAxis::Y : TResampleAxis::X, unitColumns ? h : w, unitColumns ? nh : nw);
  plan.MinWeight = 0.0;
  plan.A = std::move(unitColumns ? rows : columns);
  return plan;
}

TPlane BoxMeans(const TPlane& src, int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh) {
  bool unitColumns, unitRows;
  const TTapTable columns = BoxSpans(nw, sx, w, unitColumns), rows = BoxSpans(nh, sy, h, unitRows);
  TPlane out(size_t(nw) * size_t(nh));
  AdviseHugePages(out.data(), out.size() * sizeof(float));
  // Each output sums p wx wy and wx wy over the valid pixels of its box: per
  // source row first the column sums, then weighted by the row's share.
  ForEachChunk(nh, 16, ResampleThreads(int64_t(nw) * nh), [&](int64_t r0, int64_t r1) {
    std::vector<double> sum(static_cast<size_t>(nw)), weight(static_cast<size_t>(nw));
    for (int32_t r = int32_t(r0); r < int32_t(r1); ++r) {
      std::fill(sum.begin(), sum.end(), 0.0);
      std::fill(weight.begin(), weight.end(), 0.0);
      const float* wy = rows.Weights(size_t(r));
      for (int32_t jr = 0; jr < rows.Count[size_t(r)]; ++jr) {
        const float* s = src.data() + size_t(rows.First[size_t(r)] + jr) * size_t(w);
        for (int32_t i = 0; i < nw; ++i) {
          const float* c = s + columns.First[size_t(i)];
          const float* wx = columns.Weights(size_t(i));
          double rowSum = 0, rowWeight = 0;
          for (int32_t k = 0; k < columns.Count[size_t(i)]; ++k)
            if (c[k] > BlankLimit) {
              rowSum += double(wx[k]) * c[k];
              rowWeight += wx[k];
            }
          sum[size_t(i)] += wy[jr] * rowSum;
          weight[size_t(i)] += wy[jr] * rowWeight;
        }
      }
      float* o = out.data() + size_t(r) * size_t(nw);
      for (int32_t i = 0; i < nw; ++i)
        o[i] = weight[size_t(i)] > 0 ? float(sum[size_t(i)] / weight[size_t(i)]) : BlankPixel;
    }
  });
  return out;
}

}  // namespace astrelon
