#include "frequency/wavelet/wavelet_threshold_curve.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "frequency/wavelet/wavelet_rounding.h"

namespace astrelon {

TThresholdCurve MakeThresholdCurve(int hardness, double threshold, double c) {
  TThresholdCurve curve;
  const int k = 4 - std::clamp(hardness, 0, 3);
  curve.K = k;
  const double tc = threshold * c;
  curve.Limit = std::max(k * tc, 1e-10);
  curve.Scale = tc;
  const double rootK = std::sqrt(double(k));
  const double bend = 0.4 * rootK + 0.6 * std::pow(double(k), 0.25) - 0.4;
  curve.Table.resize(size_t(500 * k + 2));
  for (size_t i = 0; i < curve.Table.size(); ++i) {
    const double x = 0.002 * double(i);
    const double t = k == 1 ? std::tanh(2.0 - 2.0 * x) : std::tanh((3.0 - rootK) - 3.0 * x / rootK);
    const double f = (x - 0.4 * (t + 1.0) * std::sin(std::numbers::pi * x / k) * bend) * tc;
    curve.Table[i] = std::max(f, 0.0);
  }
  return curve;
}

void ApplyThresholdCurve(const TThresholdCurve& curve, std::span<float> values) {
  if (!(curve.Scale > 0)) return;
  const double perUnit = 500.0 / curve.Scale;
  const auto last = int64_t(curve.Table.size()) - 1;
  const double limit = curve.Limit;
  // Without branches, whose outcome the noise's sign would make a guess: a value
  // of magnitude m below the limit becomes the entry of m with the value's sign
  // (-0 for a zero); others, NaN among them, stay.
  for (float& v : values) {
    const double d = v, m = std::fabs(d);
    const double x = m * perUnit;
    const double e = curve.Table[size_t(int64_t(NearestWhole(x < double(last) ? x : double(last))))];
    // -e for d <= 0 by its sign bit, and the choice by a mask.
    const uint64_t minus = uint64_t(!(d > 0)) << 63;
    const float r = float(std::bit_cast<double>(std::bit_cast<uint64_t>(e) ^ minus));
    const uint32_t keep = 0u - uint32_t(!(m < limit));
    v = std::bit_cast<float>((std::bit_cast<uint32_t>(r) & ~keep) | (std::bit_cast<uint32_t>(v) & keep));
  }
}

}  // namespace astrelon
