#pragma once
// The inner loop of adding a frame into the double-size accumulation: a run
// of target pixels of one row, each with its frame position, takes the drop
// footprint sample of the frame there. A scalar loop and an AVX2 twin that
// gives the same bits.
#include <cstdint>

namespace astrelon {

struct TDoubleSizeSpan {
  const float* Frame = nullptr;  // the frame plane, FrameWidth values a row
  int32_t FrameWidth = 0;
  int64_t FramePixels = 0;  // values of the frame plane
  double XLimit = 0, YLimit = 0;  // positions 0 <= x < XLimit, 0 <= y < YLimit take part
  double Shift = 0;               // target level - frame level
  double FrameWeight = 1;         // scales each contribution and its weight
  float* Sum = nullptr;           // the run's target sums and weights
  float* Weight = nullptr;
  // Linear runs take no position lists: pixel k of the run lies at
  // (BaseX + StepX i, BaseY + StepY i) with i = First + k.
  bool Linear = false;
  double BaseX = 0, BaseY = 0, StepX = 0, StepY = 0;
  int32_t First = 0;
};

// Target pixel k of the run (0 <= k < count) at frame position (xs[k], ys[k])
// (or on the span's line):
// inside the limits, the footprint sample s with weight W > 0 adds
// (s + shift W) f to its sum (replacing a sum whose weight is still 0 or
// below) and W f to its weight, f the frame weight. `vector` takes the AVX2 loop where the processor has it.
void AddDoubleSizeSpan(const TDoubleSizeSpan& span, const double* xs, const double* ys, int32_t count, bool vector);

}  // namespace astrelon
