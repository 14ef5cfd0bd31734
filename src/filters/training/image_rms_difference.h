#pragma once
// How far a computed image is from its goal: the spread of the difference.
#include <cstdint>

namespace astrelon {

// Over the common width and height of slots a and b, without `border` pixels
// on each side, and over `plane` (0: every plane both have): the spread
// sqrt|mean(d^2) - mean(d)^2| of d = a - b (pixels blank in either image left
// out); 0 when no pixel is left, so also for images that differ by a constant.
// The vector path sums in the same lanes and order as the plain one and gives
// the same value.
double ImageRmsDifference(int a, int b, int32_t border, int plane = 0, bool vector = true);

}  // namespace astrelon
