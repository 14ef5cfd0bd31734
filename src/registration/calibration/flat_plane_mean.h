#pragma once
// The means of a flat's planes on threads, to the bit GetPlaneMean's.
#include <array>
#include <cstdint>
#include <span>

namespace astrelon {

// GetPlaneMean(slot, p) for each plane p of `planes` (1..3; the others stay 0),
// all planes summed in one pass over bands of rows on `threads` threads. The
// bands' sums add up to the same double as the one running sum when no sum
// rounds, in either order: when every valid value is a whole multiple of a
// power of two u, so is every partial sum, and while the sum of their
// magnitudes stays below 2^53 u every partial sum is exact. The pass finds
// such a u from each value's lowest set bit and bounds the magnitudes by count
// x largest; planes where that does not hold are summed by GetPlaneMean itself.
std::array<float, 4> FlatPlaneMeans(int slot, std::span<const int> planes, int threads);

}  // namespace astrelon
