#include "kernels/alignment/stars/blend_fit.h"

#include <algorithm>
#include <cmath>

#include "kernels/alignment/stars/linear_solve.h"

namespace astrelon {

namespace {

constexpr int PerStar = 5;
constexpr int Iterations = 60;

int ParamCount(size_t stars) { return 1 + PerStar * int(stars); }

// The sum of squared residuals, and with `normal` the normal equations
// (J^T J and J^T r) of the fit.
double Residuals(std::span<const TBlendPixel> pixels, const std::vector<double>& p, std::vector<double>* normal,
                 std::vector<double>* gradient) {
  const int n = int(p.size());
  const size_t stars = size_t(n - 1) / PerStar;
  if (normal) normal->assign(size_t(n * n), 0.0);
  if (gradient) gradient->assign(size_t(n), 0.0);
  std::vector<double> j(static_cast<size_t>(n), 0.0);
  double sum = 0;
  for (const TBlendPixel& px : pixels) {
    double model = p[0];
    j[0] = 1;
    for (size_t s = 0; s < stars; ++s) {
      const double* q = &p[1 + PerStar * s];
      const double u = (px.X - q[0]) / q[3], v = (px.Y - q[1]) / q[4];
      const double g = std::exp(-u * u - v * v), ag = q[2] * g;
      model += ag;
      double* d = &j[1 + PerStar * s];
      d[0] = ag * 2 * u / q[3];
      d[1] = ag * 2 * v / q[4];
      d[2] = g;
      d[3] = ag * 2 * u * u / q[3];
      d[4] = ag * 2 * v * v / q[4];
    }
    const double r = px.V - model;
    sum += r * r;
    if (!normal) continue;
    for (int a = 0; a < n; ++a) {
      (*gradient)[size_t(a)] += j[size_t(a)] * r;
      for (int b = 0; b < n; ++b) (*normal)[size_t(a * n + b)] += j[size_t(a)] * j[size_t(b)];
    }
  }
  return sum;
}

// Whether the parameters stay those of stars near their first guesses.
bool Sane(const std::vector<double>& p, const std::vector<TBlendStar>& start) {
  for (size_t s = 0; s < start.size(); ++s) {
    const double* q = &p[1 + PerStar * s];
    if (!(q[2] > 0) || !(q[3] > 0.3) || !(q[4] > 0.3) || q[3] > 20 || q[4] > 20) return false;
    if (!(std::hypot(q[0] - start[s].X, q[1] - start[s].Y) < 3)) return false;
  }
  return true;
}

}  // namespace

bool FitBlend(std::span<const TBlendPixel> pixels, std::vector<TBlendStar>& stars, double& level) {
  const int n = ParamCount(stars.size());
  if (stars.empty() || pixels.size() < size_t(2 * n)) return false;
  std::vector<double> p(static_cast<size_t>(n), 0.0);
  p[0] = level;
  for (size_t s = 0; s < stars.size(); ++s) {
    double* q = &p[1 + PerStar * s];
    q[0] = stars[s].X;
    q[1] = stars[s].Y;
    q[2] = stars[s].A;
    q[3] = stars[s].Wx;
    q[4] = stars[s].Wy;
  }
  std::vector<double> normal, gradient;
  double rss = Residuals(pixels, p, &normal, &gradient), lambda = 1e-3;
  bool settled = false;
  for (int it = 0; it < Iterations && !settled; ++it) {
    std::vector<double> a = normal, step = gradient;
    for (int k = 0; k < n; ++k) a[size_t(k * n + k)] += lambda * normal[size_t(k * n + k)] + 1e-12;
    if (!SolveLinear(a, step, n)) return false;
    std::vector<double> next = p;
    for (int k = 0; k < n; ++k) next[size_t(k)] += step[size_t(k)];
    const double nextRss = Sane(next, stars) ? Residuals(pixels, next, nullptr, nullptr) : INFINITY;
    if (nextRss <= rss) {
      double moved = 0;
      for (size_t s = 0; s < stars.size(); ++s)
        moved = std::max({moved, std::fabs(step[1 + PerStar * s]), std::fabs(step[2 + PerStar * s])});
      p = std::move(next);
      rss = Residuals(pixels, p, &normal, &gradient);
      lambda = std::max(lambda * 0.1, 1e-9);
      settled = moved < 1e-5;
    } else {
      lambda *= 10;
      settled = lambda > 1e10;  // no step improves: the minimum is reached
    }
  }
  level = p[0];
  for (size_t s = 0; s < stars.size(); ++s) {
    const double* q = &p[1 + PerStar * s];
    stars[s] = {q[0], q[1], q[2], q[3], q[4]};
  }
  return true;
}

}  // namespace astrelon
