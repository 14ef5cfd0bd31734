// The plans of the anti-moiré reduction and of the interpolation along one axis,
// and the runner of a row plan followed by a column plan.
#include <algorithm>
#include <cmath>
#include <vector>

#include "core/settings.h"
#include "kernels/sampling/resample_steps.h"
#include "kernels/sampling/subpixel_samplers.h"
#include "platform/big_buffers.h"
#include "platform/parallel_bands.h"
#include "platform/parallel_chunks.h"
#include "platform/processor_features.h"

namespace astrelon {

namespace {

// Position of output sample i along a side shrunk or stretched by ratio: the
// centres of the output pixels map onto the centres of the source pixels.
std::vector<double> SamplePositions(int32_t n, double ratio) {
  const double offset = 0.5 / ratio - 0.5;
  std::vector<double> pos(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) pos[size_t(i)] = i / ratio + offset;
  return pos;
}

// The one-dimensional sampler's taps at each position.
TTapTable SamplerTaps(const std::vector<float>& pos, int32_t length, const TSamplingKind& k) {
  TTapTable t;
  float w[MaxLineTaps];
  for (float p : pos) {
    int32_t first = 0;
    const int32_t count = LineTaps(p, length, k, first, w);
    t.Add(first, count, w);
  }
  return t;
}

// Taps c - r + 1 .. c + r (clipped to the line) of the kernel stretched by 1 / ratio.
TTapTable StretchedTaps(const std::vector<double>& pos, int32_t length, double ratio, int32_t kind, int64_t r) {
  TTapTable t;
  const auto& row = KernelRow(kind);
  std::vector<float> w;
  for (double p : pos) {
    const int64_t c = int64_t(p);
    const int64_t j0 = std::max<int64_t>(0, c - r + 1), j1 = std::min<int64_t>(length - 1, c + r);
    w.clear();
    for (int64_t j = j0; j <= j1; ++j)
      w.push_back(KernelEntry(row, KernelTableCentre + int64_t(std::nearbyint((double(j) - p) * ratio *
                                                                               KernelTableStepsPerPixel))));
    t.Add(int32_t(j0), int32_t(w.size()), w.data());
  }
  return t;
}

// Nearest integer of v (positive), at most limit.
int64_t RoundedTaps(double v, int64_t limit) {
  return std::min<int64_t>(int64_t(std::nearbyint(std::min(v, 1e9))), limit);
}

// Rows lo..hi - 1 of the row plan's output (each x.N wide) into out.
void PlanRows(const TAxisPlan& x, const float* src, int32_t w, int32_t h, int32_t lo, int32_t hi, float* out,
              bool vector, TPlane& scratch) {
  const TPlaneView view{src, w, h};
  const TSamplingKind neuro = SamplingKindOf(IkNeuro);
  const int32_t n = x.N;
  for (int32_t r = lo; r < hi; ++r) {
    float* row = out + size_t(r - lo) * size_t(n);
    if (x.Mode == TPlanMode::Taps && r + RowGroup <= hi) {
      WeightedMeansOfRowGroup(src + size_t(r) * size_t(w), w, n, x.A, x.MinWeight, row, vector, scratch);
      r += RowGroup - 1;
    } else if (x.Mode == TPlanMode::Neuro) {
      for (int32_t i = 0; i < n; ++i) row[i] = SamplePoint(view, neuro, x.Pos[size_t(i)], float(r));
    } else {
      const float* line = src + size_t(r) * size_t(w);
      for (int32_t i = 0; i < n; ++i) row[i] = x.Element(line, 1, size_t(i));
    }
  }
}

// Output row i of the column plan from a plane whose row j is src[(j - base) * w].
void PlanOutputRow(const TAxisPlan& y, const float* src, int32_t base, int32_t w, int32_t h, int32_t i, float* out,
                   bool vector) {
  const size_t k = size_t(i);
  switch (y.Mode) {
    case TPlanMode::Taps:
      if (y.A.Count[k] == 0) {
        std::fill(out, out + w, BlankPixel);
        break;
      }
      WeightedRowMeans(src, size_t(w), y.A.First[k] - base, y.A.Count[k], y.A.Weights(k), y.MinWeight, out, w,
                       vector);
      break;
    case TPlanMode::Neuro: {
      const TPlaneView view{src, w, h};
      const TSamplingKind neuro = SamplingKindOf(IkNeuro);
      for (int32_t x = 0; x < w; ++x) out[x] = SamplePoint(view, neuro, float(x), y.Pos[k]);
      break;
    }
    default:
      for (int32_t x = 0; x < w; ++x) out[x] = y.Element(src + x, w, k);
      break;
  }
}

TPlane NewPlane(int32_t w, int32_t h) {
  TPlane out(size_t(w) * size_t(h));
  AdviseHugePages(out.data(), out.size() * sizeof(float));
  return out;
}

// Output rows computed together (a chunk that one thread takes at a time); in
// the fused pass their source rows stay in cache.
constexpr int32_t FusedChunkRows = 32;

}  // namespace

int ResampleThreads(int64_t pixels) { return BandThreads(pixels, int64_t(1) << 16, Options.Multicore != 0); }

float TAxisPlan::Element(const float* line, ptrdiff_t stride, size_t i) const {
  auto p = [&](int32_t j) { return line[ptrdiff_t(j) * stride]; };
  switch (Mode) {
    case TPlanMode::AntiMoireJump: {
      // The largest step between neighbours, and the largest near the centre.
      const int32_t first = A.First[i], last = first + A.Count[i] - 1, c = Centre[i];
      float maxAll = 0, maxNear = 0;
      for (int32_t j = first + R3; j <= last - R3 && j < last; ++j) {
        const float d = std::fabs(p(j) - p(j + 1));
        if (d > maxAll) maxAll = d;
        if (std::abs(j - c) < R3 && d > maxNear) maxNear = d;
      }
      return (maxNear * 3.5f - 0.1f < maxAll ? B : A).Mean(line, stride, i, MinWeight);
    }
    case TPlanMode::AdaptiveDSinc: {
      const int32_t c = Centre[i];
      if (c <= 3 || c >= Length - 5) return C.Mean(line, stride, i, MinWeight);
      float m = std::fabs(p(c) - p(c + 1));
      m = std::max(m, std::fabs(p(c + 1) - p(c + 2)));
      m = std::max(m, std::fabs(p(c) - p(c - 1)));
      const float limit = 3.5f * m - 0.1f;
      for (int32_t j = c - 4; j <= c + 4; ++j)
        if (std::fabs(p(j) - p(j + 1)) > limit) return B.Mean(line, stride, i, MinWeight);
      return A.Mean(line, stride, i, MinWeight);
    }
    default:
      return A.Mean(line, stride, i, MinWeight);
  }
}

TAxisPlan AntiMoirePlan(TResampleAxis axis, int32_t length, int32_t n, double ratio, const TSamplingKind& k) {
  const std::vector<double> pos = SamplePositions(n, ratio);
  TAxisPlan plan(axis, length, n);
  plan.MinWeight = 0.1;
  plan.A = StretchedTaps(pos, length, ratio, k.Kind, RoundedTaps(k.Hi / ratio + 0.4, length));
  if (k.Kind == IkDSinc) {
    // Near an isolated jump the dSinc's ringing is worse than the cubic's blur.
    plan.Mode = TPlanMode::AntiMoireJump;
    plan.B = StretchedTaps(pos, length, ratio, IkBicubic, RoundedTaps(2 / ratio + 0.4, length));
    plan.R3 = int32_t(RoundedTaps(k.Hi / ratio * 0.2 + 0.4, length));
    for (double p : pos) plan.Centre.push_back(int32_t(p));
  }
  return plan;
}

TAxisPlan InterpolationPlan(TResampleAxis axis, int32_t length, int32_t n, double ratio, int32_t kind) {
  const std::vector<double> dpos = SamplePositions(n, ratio);
  std::vector<float> pos(dpos.begin(), dpos.end());
  TAxisPlan plan(axis, length, n);
  if (kind == IkNeuro) {
    plan.Mode = TPlanMode::Neuro;
    plan.Pos = std::move(pos);
  } else if (kind == IkDSinc) {
    plan.Mode = TPlanMode::AdaptiveDSinc;
    plan.A = SamplerTaps(pos, length, SamplingKindOf(IkDSinc));
    plan.B = SamplerTaps(pos, length, SamplingKindOf(IkNeuro));
    plan.C = SamplerTaps(pos, length, SamplingKindOf(IkBicubic));
    for (float p : pos) plan.Centre.push_back(int32_t(p));
  } else {
    plan.A = SamplerTaps(pos, length, SamplingKindOf(kind));
  }
  return plan;
}

TPlane RunPlans(const TPlane& src, int32_t w, int32_t h, const TAxisPlan* x, const TAxisPlan* y) {
  const bool vector = Sse2Enabled;
  if (x && y && y->Mode != TPlanMode::Taps) {
    const TPlane rows = RunPlans(src, w, h, x, nullptr);
    return RunPlans(rows, x->N, h, nullptr, y);
  }
  const int32_t outW = x ? x->N : w, outH = y ? y->N : h;
  TPlane out = NewPlane(outW, outH);
  ForEachChunk(outH, FusedChunkRows, ResampleThreads(int64_t(outW) * outH), [&](int64_t r0, int64_t r1) {
    // Buffers of the thread, kept from chunk to chunk.
    thread_local TPlane scratch, rows;
    if (!y) {
      PlanRows(*x, src.data(), w, h, int32_t(r0), int32_t(r1), out.data() + size_t(r0) * size_t(outW), vector,
               scratch);
      return;
    }
    if (!x) {
      for (int32_t i = int32_t(r0); i < int32_t(r1); ++i)
        PlanOutputRow(*y, src.data(), 0, w, h, i, out.data() + size_t(i) * size_t(outW), vector);
      return;
    }
    // Row plan and column taps together: the source rows of a chunk of output
    // rows are made into a small buffer and consumed at once.
    for (int32_t c0 = int32_t(r0); c0 < int32_t(r1); c0 += FusedChunkRows) {
      const int32_t c1 = std::min(int32_t(r1), c0 + FusedChunkRows);
      int32_t lo = h, hi = 0;
      for (int32_t i = c0; i < c1; ++i)
        if (y->A.Count[size_t(i)] > 0) {
          lo = std::min(lo, y->A.First[size_t(i)]);
          hi = std::max(hi, y->A.First[size_t(i)] + y->A.Count[size_t(i)]);
        }
      if (lo < hi) {
        rows.resize(size_t(hi - lo) * size_t(outW));
        PlanRows(*x, src.data(), w, h, lo, hi, rows.data(), vector, scratch);
      }
      for (int32_t i = c0; i < c1; ++i)
        PlanOutputRow(*y, rows.data(), lo, outW, hi - lo, i, out.data() + size_t(i) * size_t(outW), vector);
    }
  });
  return out;
}

}  // namespace astrelon
