#pragma once
// The two running-percentile passes of the masked flattening without the mask:
// the rows' percentiles of the source, then those down the columns of that
// result into the destination. Taken in bands of rows, each thread holding
// only the rows of the row pass that its band's column windows reach (no
// intermediate plane); every value is computed as in two whole passes.
#include <cstdint>
#include <span>
#include <vector>

#include "kernels/background/running_percentile.h"
#include "kernels/gauss/filter_poll.h"

namespace astrelon {

struct TPercentilePasses {
  int32_t Width = 0, Height = 0;
  int32_t X1 = 0, X2 = 0, Y1 = 0, Y2 = 0;  // the rectangle (inclusive), at least 2 x 2 inside the plane
  int32_t Reach = 1, Step = 1;
  const TPercentileWeights* Weights = nullptr;
  double Fraction = 0.25;
  bool Vector = true;
};

// The row percentile of pixels x1..x2 of one row (`row` is its first pixel)
// into out[0 .. x2 - x1]: blank pixels give blank.
void RowPercentiles(const float* row, const TPercentilePasses& c, std::vector<float>& samples, float* out);

// Both passes over the rectangle: every pixel of `destination` inside it whose
// column percentile is valid takes it (the others keep their value). The poll
// runs between rounds of bands in the calling thread, with progress 0..100 %
// for plane p; false when it stopped the run. A rectangle outside the plane
// (or planes shorter than it) does nothing.
bool PercentilePassesInBands(std::span<const float> source, std::span<float> destination, const TPercentilePasses& c,
                             TFilterPoll& poll, int plane);

}  // namespace astrelon
