// Noise level of a run of pixels from the clipped mean square of neighbour differences.
#include <algorithm>
#include <cmath>

#include "store/pair_differences.h"
#include "store/plane_routines.h"

namespace astrelon {

float EstimateNoiseClipped(std::span<const float> data, bool vector) {
  double previous = 1.0, current = 1.0;
  const int64_t n = int64_t(data.size());
  if (n > 5) {
    const int64_t pairs = n - 1;
    TPairSums s = SumSquaredDifferences(data, pairs, 1, false, 0.0f, vector);
    current = s.Count > 0 ? s.Sum / double(s.Count) : 0.0;
    for (int pass = 0; pass < 10; ++pass) {
      previous = current;
      const float limit = float(std::min(4.5 * previous, 3.0e38));
      s = SumSquaredDifferences(data, pairs, 1, true, limit, vector);
      current = s.Count > 0 ? s.Sum / double(s.Count) : previous;
      if (current < 0.0001) current = 0.0001;
      if (previous / current < 1.1) break;
    }
  }
  const double v = std::max(current * current / (0.0001 + previous), 0.0001);
  return float(std::sqrt(v) / 1.1);
}

}  // namespace astrelon
