#pragma once
// Sampling a plane at real positions with the interpolation kinds: the 2-D point
// samplers, the one-dimensional samplers along a row or a column and the linear
// row sampler. Every sampler skips blank neighbours (value at or below -1e9),
// renormalises the weights of the others and gives -1e11 where too little valid
// weight remains. Weights are read from the kernel tables.
//
// The routines taking a slot read the program-wide kind (SetToolMode) and the
// current tap window; the routines taking a TPlaneView get the kind as a value.
#include <array>
#include <cstddef>
#include <cstdint>

#include "store/planes/interpolation_kernels.h"

namespace astrelon {

// A plane as the samplers read it: Width x Height floats, row-major.
struct TPlaneView {
  const float* Data = nullptr;
  int32_t Width = 0;
  int32_t Height = 0;
  float At(int32_t x, int32_t y) const { return Data[size_t(y) * size_t(Width) + size_t(x)]; }
  bool Empty() const { return Data == nullptr; }
};
// The view of plane 1..3 of a slot; empty when the slot is not in use or the
// plane does not hold Width x Height values.
TPlaneView PlaneView(int slot, int plane);

// ---- samplers with the kind as a value ----

// Value at (x, y). Negative coordinates count as 0. Kind 0 reads the 2 x 2 cell
// at (Trunc(x), Trunc(y)) and is blank when that lies outside the plane; kinds
// 2..4 clip the window to the plane; kind 1 asks the network.
float SamplePoint(const TPlaneView& p, const TSamplingKind& k, float x, float y);
// The weighted sum without dividing, and its weight: blank (and weight 0) for a
// negative coordinate, blank when the weight is 0.1 or less.
float SamplePointBuffered(const TPlaneView& p, const TSamplingKind& k, float x, float y, float& weight);
// All three planes in one pass over the window, each with its own valid weight.
// Negative positions are not clamped (their fraction is negative).
void SamplePointRgb(const std::array<TPlaneView, 3>& p, const TSamplingKind& k, float x, float y,
                    std::array<float, 3>& out);

// Most taps a one-dimensional window has (dSinc).
constexpr int32_t MaxLineTaps = 16;
// Taps of the kind's window at `pos` along a line of n samples: pos below 0
// counts as 0, the window is clipped to the line. Writes the weights, sets
// `first` to the first sample and returns the tap count (0 when none is left).
int32_t LineTaps(float pos, int32_t n, const TSamplingKind& k, int32_t& first, float* weights);
// Weighted mean of the valid samples line[(first + t) * stride], t < count,
// summed in double in tap order; blank when the weight sum is minWeight or less.
float WeightedMean(const float* line, ptrdiff_t stride, int32_t first, int32_t count, const float* weights,
                   double minWeight);
// One-dimensional sample at pos along a line (a row: stride 1; a column: stride
// width), with the kind's table row (kind 1 reads its cubic).
float SampleLine(const float* line, ptrdiff_t stride, int32_t n, const TSamplingKind& k, float pos);

// ---- the program's samplers ----

float InterpolatePixel(int slot, int plane, float x, float y);
float InterpolatePixelBuffered(int slot, int plane, float& weight, float x, float y);
// Samples planes 1..3 of srcSlot at (x, y) into element dstIndex (row * width +
// column) of dstSlot's planes 1..3.
void InterpolatePixelRgb(int srcSlot, int dstSlot, int32_t dstIndex, float x, float y);
float SampleAlongRow(int slot, int plane, int32_t row, float x);
float SampleAlongColumn(int slot, int plane, int32_t column, float y);
// Two taps along a row without clamping: tap Trunc(x) weighs 1 - f, the next f
// (f negative for -1 < x < 0, which extrapolates from columns 0 and 1).
float SampleAlongRowLinear(int slot, int plane, int32_t row, float x);

}  // namespace astrelon
