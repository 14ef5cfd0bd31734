#include "pixelops/power_table.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace astrelon {

namespace {
constexpr int MantissaShift = 52 - TPowerTable::MantissaBits;
constexpr uint64_t FractionMask = (uint64_t(1) << MantissaShift) - 1;
constexpr double FractionScale = 1.0 / double(uint64_t(1) << MantissaShift);
}  // namespace

TPowerTable::TPowerTable(double exponent) : octave_(2048), mantissa_((size_t(1) << MantissaBits) + 1) {
  for (size_t e = 0; e < octave_.size(); ++e) octave_[e] = std::exp2((double(e) - 1023.0) * exponent);
  const double steps = double(size_t(1) << MantissaBits);
  for (size_t k = 0; k < mantissa_.size(); ++k) mantissa_[k] = std::pow(1.0 + double(k) / steps, exponent);
}

double TPowerTable::operator()(double x) const {
  if (!(x > 0)) return x != x ? x : 0.0;
  const uint64_t bits = std::bit_cast<uint64_t>(x);
  const size_t e = size_t(bits >> 52);
  if (e == 0) return 0.0;
  if (e == 0x7FF) return x;
  const size_t k = size_t((bits >> MantissaShift) & ((uint64_t(1) << MantissaBits) - 1));
  const double f = double(bits & FractionMask) * FractionScale;
  const double m = mantissa_[k] + f * (mantissa_[k + 1] - mantissa_[k]);
  return octave_[e] * m;
}

}  // namespace astrelon
