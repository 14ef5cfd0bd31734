// Noise level of a run of pixels from the clipped mean square of neighbour differences.
#include <algorithm>
#include <cmath>

#include "store/planes/pair_differences.h"
#include "store/planes/plane_routines.h"

namespace astrelon {

float EstimateNoiseClipped(std::span<const float> data, bool vector, double unit) {
  // The floors are squares of levels: in the data's own units.
  const double floor = 0.0001 * unit * unit;
  TClipResult r;  // 1.0 and 1.0 for runs of five values or fewer
  const int64_t n = int64_t(data.size());
  if (n > 5) r = ClippedMeanSquare(data, n - 1, 1, TClipRule{true, true, floor}, vector);
  const double v = std::max(r.Current * r.Current / (floor + r.Previous), floor);
  return float(std::sqrt(v) / 1.1);
}

}  // namespace astrelon
