#pragma once
// Rounding to the nearest integer, ties to even, without a library call.
namespace astrelon {

// std::nearbyint(x) in the default rounding mode for |x| < 2^51 (a zero result
// may lose its sign): x + 1.5 * 2^52 lies where doubles are whole numbers, so
// the addition itself rounds, and taking the constant away again is exact.
[[gnu::always_inline]] inline double NearestWhole(double x) {
  constexpr double Shift = 6755399441055744.0;  // 1.5 * 2^52
  return (x + Shift) - Shift;
}

}  // namespace astrelon
