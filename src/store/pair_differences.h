#pragma once
// Mean-square differences of pixel pairs, the core of the noise estimates.
#include <cstdint>
#include <span>

namespace astrelon {

struct TPairSums {
  double Sum = 0;     // sum of the squared differences
  int64_t Count = 0;  // number of pairs summed
};

// Pairs (v[k*gap], v[k*gap + gap]) for k = 0..pairs-1 (gap 1 or 2) in which both
// values are valid; with `clip` only those whose squared difference is below
// `limit`. Differences and squares are formed in float, the sums in double in
// the fixed lane order shared by the scalar and the SSE2 path.
TPairSums SumSquaredDifferences(std::span<const float> v, int64_t pairs, int gap, bool clip, float limit,
                                bool vector);

}  // namespace astrelon
