#pragma once
// The steps of ResampleImage. A step along one axis is a plan saying how every
// output sample of a line (a row or a column) comes from that line: integer
// blocks, box spans, the anti-moiré low-pass or an interpolation kind. A row
// plan followed by a column plan runs in one pass over bands of output rows, the
// rows it needs made in a small buffer, so the intermediate plane never exists.
// Rows run in bands on all cores; every output value is computed the same way
// whatever the split and whichever vector path runs.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

enum class TResampleAxis { X, Y };

// Worker threads for a step writing `pixels` values ("Multicores" off: one).
int ResampleThreads(int64_t pixels);

// The taps of every output sample along a line: first source sample, count and weights.
struct TTapTable {
  std::vector<int32_t> First, Count;
  std::vector<size_t> Offset;
  std::vector<float> Weight;

  void Add(int32_t first, int32_t count, const float* w) {
    First.push_back(first);
    Count.push_back(count);
    Offset.push_back(Weight.size());
    Weight.insert(Weight.end(), w, w + count);
  }
  const float* Weights(size_t i) const { return Weight.data() + Offset[i]; }
  // Weighted mean of the valid taps of output i along `line` (sample 0 at line[0]).
  float Mean(const float* line, ptrdiff_t stride, size_t i, double minWeight) const;
};

enum class TPlanMode {
  Taps,           // the weighted mean of A's taps
  AntiMoireJump,  // A (dSinc), or B (bicubic) where an isolated jump lies in the window
  AdaptiveDSinc,  // A (dSinc), B (soft cubic) near jumps, C (bicubic) at the ends
  Neuro,          // the network at Pos along the axis
};

// How the N output samples of a line of Length samples are computed.
struct TAxisPlan {
  TAxisPlan(TResampleAxis axis, int32_t length, int32_t n) : Axis(axis), Length(length), N(n) {}

  TResampleAxis Axis = TResampleAxis::X;
  int32_t Length = 0;
  int32_t N = 0;
  TPlanMode Mode = TPlanMode::Taps;
  double MinWeight = 0.3;
  TTapTable A, B, C;
  std::vector<int32_t> Centre;  // integer part of each position (jump tests)
  std::vector<float> Pos;       // positions (network)
  int32_t R3 = 0;               // the near zone of the anti-moiré jump test

  // Output i of a line whose sample j is line[j * stride] (modes other than Neuro).
  float Element(const float* line, ptrdiff_t stride, size_t i) const;
};

// Groups of `factor` consecutive samples become the mean of their valid ones
// (blank when none is valid); the side shrinks to length div factor.
TAxisPlan BlockPlan(TResampleAxis axis, int32_t length, int32_t factor);
// Low-pass reduction to n samples at factor ratio (< 1): the kernel of the kind
// stretched by 1 / ratio; dSinc falls back to the cubic near isolated jumps.
TAxisPlan AntiMoirePlan(TResampleAxis axis, int32_t length, int32_t n, double ratio, const TSamplingKind& k);
// Interpolation to n samples at factor ratio: the one-dimensional samplers for
// kinds 0, 2 and 4, the network for kind 1 and, for dSinc, a per-sample choice
// of dSinc, the soft cubic or the bicubic kernel.
TAxisPlan InterpolationPlan(TResampleAxis axis, int32_t length, int32_t n, double ratio, int32_t kind);

// Box averaging of a w x h plane to nw x nh: output (i, r) averages the source
// box [i sx, (i+1) sx) x [r sy, (r+1) sy), the box edges accumulated in float by
// repeated addition and edge samples weighted by their share; blank where no
// valid pixel lies. When the boxes of one axis are single samples this is a plan
// along the other axis; otherwise BoxMeans computes it.
std::optional<TAxisPlan> BoxPlan(int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh);
TPlane BoxMeans(const TPlane& src, int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh);

// Runs a row plan, then a column plan (either may be absent) over a w x h plane.
TPlane RunPlans(const TPlane& src, int32_t w, int32_t h, const TAxisPlan* x, const TAxisPlan* y);

// out[x] (x < n) = weighted mean of the valid src[(first + t) * rowStride + x],
// t < count, summed in double in tap order; blank when the weight sum is
// minWeight or less. The vector paths give the scalar path's values bit for bit.
void WeightedRowMeans(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                      double minWeight, float* out, int32_t n, bool vector);

// Rows the row pass takes together.
constexpr int32_t RowGroup = 8;
// The row pass over eight rows of width w at once: output i (i < n) of row k
// (written to out[k * n + i]) is taps.Mean along row k. `scratch` holds the
// rows transposed.
void WeightedMeansOfRowGroup(const float* rows, int32_t w, int32_t n, const TTapTable& taps, double minWeight,
                             float* out, bool vector, TPlane& scratch);

}  // namespace astrelon
