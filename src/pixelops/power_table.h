#pragma once
// A fast power x^p for positive doubles, the same on every thread and processor:
// x = 2^e · m (1 <= m < 2) gives 2^(e·p) from a table per exponent times m^p
// interpolated linearly between 2048 tabulated points of [1, 2]. The relative
// error stays below 1e-7 for exponents between -1 and 3.
#include <array>
#include <vector>

namespace astrelon {

class TPowerTable {
public:
  explicit TPowerTable(double exponent);
  // x^p for x > 0; 0 for zero, negative and subnormal x; x itself for infinity and NaN.
  double operator()(double x) const;

  static constexpr int MantissaBits = 11;

private:
  std::vector<double> octave_;    // 2^((e - 1023)·p) for the biased exponent e
  std::vector<double> mantissa_;  // (1 + k / 2048)^p for k = 0 .. 2048
};

}  // namespace astrelon
