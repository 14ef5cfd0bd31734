#pragma once
// Doubles that become float pixels: held in the float range first, since a
// conversion out of range is undefined and an infinite pixel poisons every
// later sum.
#include <algorithm>
#include <limits>

namespace astrelon {

// v within -FLT_MAX .. FLT_MAX, as a float; NaN stays NaN.
constexpr float ToFloatRange(double v) {
  constexpr double Largest = std::numeric_limits<float>::max();
  return v != v ? std::numeric_limits<float>::quiet_NaN() : float(std::clamp(v, -Largest, Largest));
}

// Whether v is a finite number that a float can hold.
constexpr bool InFloatRange(double v) {
  constexpr double Largest = std::numeric_limits<float>::max();
  return v >= -Largest && v <= Largest;
}

}  // namespace astrelon
