#include "frequency/wavelet/wavelet_threshold_curve.h"

#include <algorithm>
#include <cmath>
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
  auto entry = [&](double magnitude) {
    // A magnitude above 0, so the index lies in 0 .. last.
    const int64_t i = int64_t(NearestWhole(std::min(magnitude * perUnit, double(last))));
    return curve.Table[size_t(i)];
  };
  for (float& v : values) {
    const double d = v;
    if (d > 0 && d < curve.Limit)
      v = float(entry(d));
    else if (d <= 0 && d > -curve.Limit)
      v = float(-entry(-d));
  }
}

}  // namespace astrelon
