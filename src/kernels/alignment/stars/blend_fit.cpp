#include "kernels/alignment/stars/blend_fit.h"

#include <algorithm>
#include <cmath>

#include "kernels/alignment/stars/linear_solve.h"

namespace astrelon {

namespace {

constexpr int PerStar = 5;
constexpr int Iterations = 60;

// The parameters: the background's terms, then five per star.
struct TLayout {
  int Background;
  size_t Stars;
  int Count() const { return Background + PerStar * int(Stars); }
  size_t Star(size_t s) const { return size_t(Background) + PerStar * s; }
};

// The sum of squared residuals, and with `normal` the normal equations
// (J^T J and J^T r) of the fit.
double Residuals(std::span<const TBlendPixel> pixels, const TLayout& l, const TBlendBackground& b,
                 const std::vector<double>& p, std::vector<double>* normal, std::vector<double>* gradient) {
  const int n = l.Count();
  if (normal) normal->assign(size_t(n * n), 0.0);
  if (gradient) gradient->assign(size_t(n), 0.0);
  std::vector<double> j(static_cast<size_t>(n), 0.0);
  double sum = 0;
  for (const TBlendPixel& px : pixels) {
    const double u = (px.X - b.Cx) / b.Scale, v = (px.Y - b.Cy) / b.Scale;
    const double terms[6] = {1, u, v, u * u, u * v, v * v};
    double model = 0;
    for (int k = 0; k < l.Background; ++k) {
      model += p[size_t(k)] * terms[k];
      j[size_t(k)] = terms[k];
    }
    for (size_t s = 0; s < l.Stars; ++s) {
      const double* q = &p[l.Star(s)];
      const double u = (px.X - q[0]) / q[3], v = (px.Y - q[1]) / q[4];
      const double g = std::exp(-u * u - v * v), ag = q[2] * g;
      model += ag;
      double* d = &j[l.Star(s)];
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
bool Sane(const TLayout& l, const std::vector<double>& p, const std::vector<TBlendStar>& start) {
  for (size_t s = 0; s < start.size(); ++s) {
    const double* q = &p[l.Star(s)];
    if (!(q[2] > 0) || !(q[3] > 0.3) || !(q[4] > 0.3) || q[3] > 20 || q[4] > 20) return false;
    if (!(std::hypot(q[0] - start[s].X, q[1] - start[s].Y) < 3)) return false;
  }
  return true;
}

}  // namespace

bool FitBlend(std::span<const TBlendPixel> pixels, std::vector<TBlendStar>& stars, TBlendBackground& background) {
  const TLayout l{background.Quadratic ? 6 : 1, stars.size()};
  const int n = l.Count();
  if (stars.empty() || pixels.size() < size_t(2 * n) || background.Terms.size() < 6) return false;
  std::vector<double> p(static_cast<size_t>(n), 0.0);
  std::copy_n(background.Terms.begin(), l.Background, p.begin());
  for (size_t s = 0; s < stars.size(); ++s) {
    double* q = &p[l.Star(s)];
    q[0] = stars[s].X;
    q[1] = stars[s].Y;
    q[2] = stars[s].A;
    q[3] = stars[s].Wx;
    q[4] = stars[s].Wy;
  }
  std::vector<double> normal, gradient;
  double rss = Residuals(pixels, l, background, p, &normal, &gradient), lambda = 1e-3;
  bool settled = false;
  for (int it = 0; it < Iterations && !settled; ++it) {
    std::vector<double> a = normal, step = gradient;
    for (int k = 0; k < n; ++k) a[size_t(k * n + k)] += lambda * normal[size_t(k * n + k)] + 1e-12;
    if (!SolveLinear(a, step, n)) return false;
    std::vector<double> next = p;
    for (int k = 0; k < n; ++k) next[size_t(k)] += step[size_t(k)];
    const double nextRss =
        Sane(l, next, stars) ? Residuals(pixels, l, background, next, nullptr, nullptr) : INFINITY;
    if (nextRss <= rss) {
      double moved = 0;
      for (size_t s = 0; s < stars.size(); ++s)
        moved = std::max({moved, std::fabs(step[l.Star(s)]), std::fabs(step[l.Star(s) + 1])});
      p = std::move(next);
      rss = Residuals(pixels, l, background, p, &normal, &gradient);
      lambda = std::max(lambda * 0.1, 1e-9);
      settled = moved < 1e-5;
    } else {
      lambda *= 10;
      settled = lambda > 1e10;  // no step improves: the minimum is reached
    }
  }
  std::copy_n(p.begin(), l.Background, background.Terms.begin());
  for (size_t s = 0; s < stars.size(); ++s) {
    const double* q = &p[l.Star(s)];
    stars[s] = {q[0], q[1], q[2], q[3], q[4]};
  }
  return true;
}

}  // namespace astrelon
