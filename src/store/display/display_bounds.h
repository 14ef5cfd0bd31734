#pragma once
// Steps of a display bound that stay strict in float: near large values a small
// step is below the float spacing, so the next representable value is taken.
#include <algorithm>
#include <cmath>
#include <limits>

namespace astrelon {

inline float StepAbove(float x, float delta) {
  return std::max(x + delta, std::nextafter(x, std::numeric_limits<float>::infinity()));
}
inline float StepBelow(float x, float delta) {
  return std::min(x - delta, std::nextafter(x, -std::numeric_limits<float>::infinity()));
}

}  // namespace astrelon
