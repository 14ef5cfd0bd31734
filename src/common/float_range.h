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

// Factors that typed or stored numbers give (gains, multipliers, matrix
// entries, noise amounts) are held within +-FactorLimit before they scale
// pixels: image data times such a factor, and sums of a few such products, stay
// far inside the float range, so that no result becomes infinite.
inline constexpr double FactorLimit = 1e8;

// f within -FactorLimit .. FactorLimit; NaN scales nothing (0).
constexpr double LimitFactor(double f) { return f != f ? 0.0 : std::clamp(f, -FactorLimit, FactorLimit); }

// Angles in degrees that typed or stored numbers give are refused beyond
// +-AngleLimit: such a value is no sensible rotation, and its reduction to one
// turn keeps ever fewer of the typed digits (at 1e300 none at all).
inline constexpr double AngleLimit = 1e6;

// Whether a is a finite angle within -AngleLimit .. AngleLimit degrees.
constexpr bool InAngleRange(double a) { return a >= -AngleLimit && a <= AngleLimit; }

}  // namespace astrelon
