#include "kernels/alignment/stars/robust_surface.h"

#include <algorithm>
#include <cmath>

#include "kernels/alignment/stars/linear_solve.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

// The first `n` terms at (dx, dy) / scale (the others left 0).
std::array<double, TRobustSurface::MostTerms> TermsAt(double dx, double dy, double scale,
                                                      int n = TRobustSurface::MostTerms) {
  dx /= scale;
  dy /= scale;
  std::array<double, TRobustSurface::MostTerms> t{1, dx, dy};
  if (n > 3) t = {1, dx, dy, dx * dx, dx * dy, dy * dy};
  if (n > 6) t = {1, dx, dy, dx * dx, dx * dy, dy * dy, dx * dx * dx, dx * dx * dy, dx * dy * dy, dy * dy * dy};
  return t;
}

}  // namespace

double TRobustSurface::Rise(double dx, double dy) const {
  const auto t = TermsAt(dx, dy, Scale, Terms);
  double v = 0;
  for (int k = 1; k < Terms; ++k) v += K[size_t(k)] * t[size_t(k)];
  return v;
}

double TRobustSurface::At(double dx, double dy) const { return K[0] + Rise(dx, dy); }

TRobustSurface FitRobustSurface(std::span<const TSurfaceSample> samples, int terms, double scale, double floor,
                                int passes, int least) {
  TRobustSurface s;
  s.Terms = std::clamp(terms, 1, TRobustSurface::MostTerms);
  s.Scale = scale;
  if (samples.empty() || int(samples.size()) < least) return s;
  std::vector<double> values;
  for (const TSurfaceSample& p : samples) values.push_back(p.V);
  s.K[0] = Median(values);
  const int n = s.Terms;
  // Each sample's terms, once.
  std::vector<std::array<double, TRobustSurface::MostTerms>> at(samples.size());
  for (size_t k = 0; k < samples.size(); ++k) at[k] = TermsAt(samples[k].Dx, samples[k].Dy, scale, n);
  const auto off = [&](size_t k) {
    double rise = 0;
    for (int j = 1; j < n; ++j) rise += s.K[size_t(j)] * at[k][size_t(j)];
    return std::fabs(samples[k].V - (s.K[0] + rise));
  };
  std::vector<double> offs(samples.size());
  for (int pass = 0; pass < passes; ++pass) {
    for (size_t k = 0; k < samples.size(); ++k) offs[k] = off(k);
    const double limit = 3 * std::max(1.4826 * Median(offs), floor);
    std::array<double, TRobustSurface::MostTerms * TRobustSurface::MostTerms> m{};
    std::array<double, TRobustSurface::MostTerms> b{};
    int used = 0;
    for (size_t k = 0; k < samples.size(); ++k) {
      const TSurfaceSample& p = samples[k];
      if (offs[k] > limit) continue;
      const auto& t = at[k];
      for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) m[size_t(r * n + c)] += t[size_t(r)] * t[size_t(c)];
        b[size_t(r)] += t[size_t(r)] * p.V;
      }
      ++used;
    }
    if (used < least || !SolveLinear(std::span(m).first(size_t(n * n)), std::span(b).first(size_t(n)), n)) return s;
    s.K = b;
  }
  s.Complete = true;
  return s;
}

}  // namespace astrelon
