#include "kernels/alignment/stars/linear_solve.h"

#include <cmath>
#include <utility>

namespace astrelon {

bool SolveLinear(std::span<double> m, std::span<double> b, int n) {
  const auto at = [&](int r, int c) -> double& { return m[size_t(r * n + c)]; };
  for (int k = 0; k < n; ++k) {
    int pivot = k;
    for (int i = k + 1; i < n; ++i)
      if (std::fabs(at(i, k)) > std::fabs(at(pivot, k))) pivot = i;
    if (!(std::fabs(at(pivot, k)) > 0)) return false;
    if (pivot != k) {
      for (int j = 0; j < n; ++j) std::swap(at(k, j), at(pivot, j));
      std::swap(b[size_t(k)], b[size_t(pivot)]);
    }
    for (int i = k + 1; i < n; ++i) {
      const double f = at(i, k) / at(k, k);
      for (int j = k; j < n; ++j) at(i, j) -= f * at(k, j);
      b[size_t(i)] -= f * b[size_t(k)];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    double s = b[size_t(k)];
    for (int j = k + 1; j < n; ++j) s -= at(k, j) * b[size_t(j)];
    b[size_t(k)] = s / at(k, k);
  }
  return true;
}

}  // namespace astrelon
