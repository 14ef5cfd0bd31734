#pragma once
// Sorting networks: fixed lists of compare-exchange steps that sort any n
// values, so that many runs of n values can be sorted side by side in vector
// lanes. Batcher's odd-even merge sort for any n, optionally cut down to the
// steps that decide chosen positions of the sorted order.
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace astrelon {

// A step puts the smaller value at First and the larger at Second (First < Second).
using TCompareExchange = std::pair<int16_t, int16_t>;

// The network that sorts n values (n up to 32767).
std::vector<TCompareExchange> SortingNetwork(int32_t n);

// Only the steps of `network` that the values at `positions` depend on: after
// them those positions hold what the whole network puts there.
std::vector<TCompareExchange> NetworkForPositions(std::span<const TCompareExchange> network,
                                                  std::span<const int32_t> positions);

}  // namespace astrelon
