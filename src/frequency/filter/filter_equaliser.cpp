#include "frequency/filter/filter_equaliser.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

double EqualiserFactor(const TEqualiser& eq, int32_t i, int32_t K) {
  const double f0 = std::max(eq.Frequency, 0.01), Q = std::max(eq.Quality, 0.01);
  const double x = double(i) / (double(std::max(K - 1, 1)) * f0);
  const double d = eq.Value;
  if (eq.Pass == TEqualiserPass::Band) {
    const double h = x > 0 ? 1.0 / std::sqrt(std::pow((x - 1.0 / x) * Q, 2) + 1.0) : 0.0;
    const double g = h * (std::pow(10.0, std::fabs(d) / 20.0) - 1.0) + 1.0;
    return d >= 0 ? g : 1.0 / g;
  }
  const double s = d / 12.12;
  const double g = x > 0 ? std::sqrt(std::pow(std::pow(x, 2 * s) - 1.0, 2) + std::pow(std::pow(x, s) / Q, 2)) : 1.0;
  return eq.Pass == TEqualiserPass::Low ? 1.0 / g : g;
}

void EqualiseCurve(std::span<const double> base, std::span<double> out, const TEqualiser& eq) {
  const int32_t K = int32_t(std::min(base.size(), out.size()));
  for (int32_t i = 0; i < K; ++i) out[size_t(i)] = base[size_t(i)] * EqualiserFactor(eq, i, K);
}

TEqualiserDefaults EqualiserDefaults(TEqualiserPass pass) {
  if (pass == TEqualiserPass::Band) return {"-4.0", "2.0"};
  return {"20.0", "0.70"};
}

void EqualiserValueRange(TEqualiserPass pass, double& low, double& high) {
  low = pass == TEqualiserPass::Band ? -40.0 : 0.0;
  high = pass == TEqualiserPass::Band ? 40.0 : 80.0;
}

}  // namespace astrelon
