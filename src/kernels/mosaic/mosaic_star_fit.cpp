#include "kernels/mosaic/mosaic_star_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "kernels/alignment/stars/linear_solve.h"
#include "store/planes/value_statistics.h"

namespace astrelon {

namespace {

constexpr int Sites = 4;
constexpr int Params = 3 + 2 * Sites;  // x0, y0, sigma; a height and a level per site
constexpr int RingWidth = 4;

int SiteOf(int32_t x, int32_t y) { return (y & 1) * 2 + (x & 1); }
bool Valid(float v) { return v > -1e9f; }


struct TSample {
  double Dx, Dy;  // position relative to the window's centre
  double Value;
};

// A site's background plane and noise, from the ring around the window.
struct TSiteBackground {
  double Level = 0, Gx = 0, Gy = 0;
  double Noise = 0;
  double At(double dx, double dy) const { return Level + Gx * dx + Gy * dy; }
};

// The plane through the samples, refitted without those further than three
// times the noise from it (stars in the ring); false with too few samples.
bool FitPlane(const std::vector<TSample>& ring, TSiteBackground& bg) {
  std::vector<char> keep(ring.size(), 1);
  std::vector<double> off;
  for (int pass = 0; pass < 4; ++pass) {
    std::array<double, 9> m{};
    std::array<double, 3> b{};
    int n = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
      if (!keep[i]) continue;
      const double f[3] = {1, ring[i].Dx, ring[i].Dy};
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) m[size_t(r * 3 + c)] += f[r] * f[c];
        b[size_t(r)] += f[r] * ring[i].Value;
      }
      ++n;
    }
    if (n < 6 || !SolveLinear(m, b, 3)) return false;
    bg.Level = b[0];
    bg.Gx = b[1];
    bg.Gy = b[2];
    off.clear();
    for (size_t i = 0; i < ring.size(); ++i)
      if (keep[i]) off.push_back(std::fabs(ring[i].Value - bg.At(ring[i].Dx, ring[i].Dy)));
    bg.Noise = 1.4826 * Median(off);
    bool changed = false;
    for (size_t i = 0; i < ring.size(); ++i) {
      const bool k = !(std::fabs(ring[i].Value - bg.At(ring[i].Dx, ring[i].Dy)) > 3 * bg.Noise);
      changed = changed || k != bool(keep[i]);
      keep[i] = k;
    }
    if (!changed) break;
  }
  return true;
}

// A pixel of the fit: its place, site and background-free value in units of
// its site's noise.
struct TFitPixel {
  double Dx, Dy;
  int Site;
  double Z;
};

// The integral of a unit Gaussian of width s centred at c over the pixel
// [k - 0.5, k + 0.5], and its derivatives by c and by s.
struct TEdgeIntegral {
  double E, Dc, Ds;
};
TEdgeIntegral PixelIntegral(double k, double c, double s) {
  constexpr double InvSqrt2 = 0.70710678118654752440;
  constexpr double InvSqrt2Pi = 0.39894228040143267794;
  const double u1 = k + 0.5 - c, u0 = k - 0.5 - c;
  const double g1 = InvSqrt2Pi / s * std::exp(-0.5 * u1 * u1 / (s * s));
  const double g0 = InvSqrt2Pi / s * std::exp(-0.5 * u0 * u0 / (s * s));
  return {0.5 * (std::erf(u1 * InvSqrt2 / s) - std::erf(u0 * InvSqrt2 / s)), g0 - g1, -(u1 * g1 - u0 * g0) / s};
}

using TParams = std::array<double, Params>;

// The model's residuals, summed in squares, with the normal equations of
// the fit when `m` is given.
double Residuals(const std::vector<TFitPixel>& pixels, const TParams& p, std::array<double, Params * Params>* m,
                 std::array<double, Params>* g) {
  if (m) m->fill(0);
  if (g) g->fill(0);
  double sum = 0;
  for (const TFitPixel& px : pixels) {
    const TEdgeIntegral ex = PixelIntegral(px.Dx, p[0], p[2]), ey = PixelIntegral(px.Dy, p[1], p[2]);
    const double shape = ex.E * ey.E;
    const double height = p[size_t(3 + px.Site)];
    const double r = px.Z - (height * shape + p[size_t(3 + Sites + px.Site)]);
    sum += r * r;
    if (!m) continue;
    std::array<double, Params> j{};
    j[0] = height * ex.Dc * ey.E;
    j[1] = height * ex.E * ey.Dc;
    j[2] = height * (ex.Ds * ey.E + ex.E * ey.Ds);
    j[size_t(3 + px.Site)] = shape;
    j[size_t(3 + Sites + px.Site)] = 1;
    for (int a = 0; a < Params; ++a) {
      if (j[size_t(a)] == 0) continue;
      (*g)[size_t(a)] += j[size_t(a)] * r;
      for (int b = 0; b < Params; ++b) (*m)[size_t(a * Params + b)] += j[size_t(a)] * j[size_t(b)];
    }
  }
  return sum;
}

// Levenberg-Marquardt from `p`; false when the fit does not settle.
bool FitGaussian(const std::vector<TFitPixel>& pixels, TParams& p, double reach) {
  double lambda = 1e-3;
  std::array<double, Params * Params> m;
  std::array<double, Params> g;
  double rss = Residuals(pixels, p, &m, &g);
  for (int iteration = 0; iteration < 200; ++iteration) {
    std::array<double, Params * Params> a = m;
    std::array<double, Params> step = g;
    for (int k = 0; k < Params; ++k) a[size_t(k * Params + k)] += lambda * m[size_t(k * Params + k)] + 1e-12;
    if (!SolveLinear(a, step, Params)) return false;
    TParams next = p;
    for (int k = 0; k < Params; ++k) next[size_t(k)] += step[size_t(k)];
    const bool inside = next[2] > 0.25 && next[2] < reach && std::fabs(next[0]) < reach && std::fabs(next[1]) < reach;
    const double nextRss = inside ? Residuals(pixels, next, nullptr, nullptr) : INFINITY;
    if (nextRss <= rss) {
      p = next;
      const bool settled = std::fabs(step[0]) < 1e-6 && std::fabs(step[1]) < 1e-6;
      rss = Residuals(pixels, p, &m, &g);
      lambda = std::max(lambda * 0.1, 1e-9);
      if (settled) return true;
    } else {
      lambda *= 10;
      if (lambda > 1e12) return true;  // no step improves: the minimum is reached
    }
  }
  return true;
}

struct TWindow {
  int32_t Cx, Cy, Reach;
};

// One fit in the window; the centre relative to it and the width, and with
// `model` all it found.
std::optional<TParams> FitInWindow(std::span<const float> plane, int32_t width, int32_t height, const TWindow& w,
                                   double sigma, std::span<const TPixelXY> skipped,
                                   TMosaicStarModel* model = nullptr) {
  const int32_t outer = w.Reach + RingWidth;
  std::array<std::vector<TSample>, Sites> ring;
  std::vector<std::pair<TSample, int>> inner;
  for (int32_t y = std::max(0, w.Cy - outer); y <= std::min(height - 1, w.Cy + outer); ++y)
    for (int32_t x = std::max(0, w.Cx - outer); x <= std::min(width - 1, w.Cx + outer); ++x) {
      const float v = plane[size_t(y) * size_t(width) + size_t(x)];
      if (!Valid(v) || !std::isfinite(v) || std::find(skipped.begin(), skipped.end(), TPixelXY{x, y}) != skipped.end())
        continue;
      const TSample s{double(x - w.Cx), double(y - w.Cy), double(v)};
      if (std::max(std::abs(x - w.Cx), std::abs(y - w.Cy)) > w.Reach)
        ring[size_t(SiteOf(x, y))].push_back(s);
      else
        inner.push_back({s, SiteOf(x, y)});
    }
  std::array<TSiteBackground, Sites> bg;
  for (int c = 0; c < Sites; ++c)
    if (!FitPlane(ring[size_t(c)], bg[size_t(c)])) return std::nullopt;
  // Noise-free data: a thousandth of the site's range over the window stands in.
  std::array<double, Sites> lo, hi;
  lo.fill(INFINITY);
  hi.fill(-INFINITY);
  for (const auto& [s, c] : inner) {
    const double z = s.Value - bg[size_t(c)].At(s.Dx, s.Dy);
    lo[size_t(c)] = std::min(lo[size_t(c)], z);
    hi[size_t(c)] = std::max(hi[size_t(c)], z);
  }
  std::vector<TFitPixel> pixels;
  pixels.reserve(inner.size());
  for (int c = 0; c < Sites; ++c) {
    TSiteBackground& b = bg[size_t(c)];
    if (!(b.Noise > 0)) b.Noise = hi[size_t(c)] > lo[size_t(c)] ? 1e-3 * (hi[size_t(c)] - lo[size_t(c)]) : 1;
  }
  for (const auto& [s, c] : inner)
    pixels.push_back({s.Dx, s.Dy, c, (s.Value - bg[size_t(c)].At(s.Dx, s.Dy)) / bg[size_t(c)].Noise});

  // Start: the Gaussian at the window's centre, each site's height and level
  // by least squares.
  TParams p{};
  p[2] = sigma;
  for (int c = 0; c < Sites; ++c) {
    double sgg = 0, sg = 0, n = 0, sgz = 0, sz = 0;
    for (const TFitPixel& px : pixels) {
      if (px.Site != c) continue;
      const double shape = PixelIntegral(px.Dx, 0, sigma).E * PixelIntegral(px.Dy, 0, sigma).E;
      sgg += shape * shape;
      sg += shape;
      n += 1;
      sgz += shape * px.Z;
      sz += px.Z;
    }
    const double det = sgg * n - sg * sg;
    if (n < 2 || !(std::fabs(det) > 0)) return std::nullopt;
    p[size_t(3 + c)] = (sgz * n - sg * sz) / det;
    p[size_t(3 + Sites + c)] = (sgg * sz - sg * sgz) / det;
  }
  if (!FitGaussian(pixels, p, double(w.Reach))) return std::nullopt;
  // A star: brighter than its background, and its fitted light five times
  // the noise (the signal-to-noise ratio of the model over the window).
  double light = 0, energy = 0;
  for (const TFitPixel& px : pixels) {
    const double v = p[size_t(3 + px.Site)] * PixelIntegral(px.Dx, p[0], p[2]).E * PixelIntegral(px.Dy, p[1], p[2]).E;
    light += v;
    energy += v * v;
  }
  if (!(light > 0) || !(energy >= 25)) return std::nullopt;
  if (model) {
    model->Cx = w.Cx;
    model->Cy = w.Cy;
    model->X = w.Cx + p[0];
    model->Y = w.Cy + p[1];
    model->Sigma = p[2];
    for (size_t c = 0; c < Sites; ++c) {
      model->SiteHeight[c] = p[3 + c];
      model->SiteLevel[c] = p[3 + Sites + c];
      model->Noise[c] = bg[c].Noise;
      model->Level[c] = bg[c].Level;
      model->Gx[c] = bg[c].Gx;
      model->Gy[c] = bg[c].Gy;
    }
  }
  return p;
}

int32_t ReachOf(double sigma) { return std::clamp(int32_t(std::ceil(3 * sigma)) + 1, 3, 12); }

}  // namespace

double SigmaOfProfileWidth(int32_t profileWidth) {
  // The 20 % level lies 1.79 sigma from the centre; the walk ends a pixel past it.
  return std::clamp((double(profileWidth) - 1) / 3.6, 0.7, 4.0);
}

double TMosaicStarModel::Light(int32_t x, int32_t y) const {
  const size_t c = size_t(SiteOf(x, y));
  return Noise[c] * SiteHeight[c] * PixelIntegral(x - Cx, X - Cx, Sigma).E * PixelIntegral(y - Cy, Y - Cy, Sigma).E;
}

double TMosaicStarModel::Value(int32_t x, int32_t y) const {
  const size_t c = size_t(SiteOf(x, y));
  const double dx = x - Cx, dy = y - Cy;
  return Level[c] + Gx[c] * dx + Gy[c] * dy + Noise[c] * SiteLevel[c] + Light(x, y);
}

double TMosaicStarModel::Height(int32_t x, int32_t y) const {
  const double top = PixelIntegral(0, 0, Sigma).E;
  return Noise[size_t(SiteOf(x, y))] * SiteHeight[size_t(SiteOf(x, y))] * top * top;
}

std::optional<TMosaicStarModel> FitMosaicStarAt(std::span<const float> plane, int32_t width, int32_t height,
                                                TPixelXY at, double sigma, std::span<const TPixelXY> skipped) {
  if (width < 1 || height < 1 || plane.size() < size_t(width) * size_t(height)) return std::nullopt;
  sigma = std::clamp(sigma, 0.5, 4.0);
  TMosaicStarModel model;
  if (!FitInWindow(plane, width, height, {at.X, at.Y, ReachOf(sigma)}, sigma, skipped, &model)) return std::nullopt;
  return model;
}

std::optional<TFloatPoint> FitMosaicStar(std::span<const float> plane, int32_t width, int32_t height,
                                         TFloatPoint start, double sigmaStart, std::span<const TPixelXY> skipped) {
  if (width < 1 || height < 1 || plane.size() < size_t(width) * size_t(height)) return std::nullopt;
  double sigma = std::clamp(sigmaStart, 0.5, 4.0);
  TWindow w{int32_t(std::nearbyint(std::clamp(double(start.X), 0.0, double(width - 1)))),
            int32_t(std::nearbyint(std::clamp(double(start.Y), 0.0, double(height - 1)))), ReachOf(sigma)};
  // The window follows the fitted centre and width until it stays, so that
  // the result does not depend on where the search began. A centre halfway
  // between pixels can send it back and forth: the fits of the windows it
  // cycles through are averaged.
  struct TVisit {
    TWindow Window;
    double X, Y;
  };
  std::vector<TVisit> visits;
  for (int round = 0; round < 8; ++round) {
    const std::optional<TParams> p = FitInWindow(plane, width, height, w, sigma, skipped);
    if (!p) return std::nullopt;
    const double x = w.Cx + (*p)[0], y = w.Cy + (*p)[1];
    if (!(std::hypot(x - start.X, y - start.Y) <= 2 * w.Reach)) return std::nullopt;  // also not a number
    visits.push_back({w, x, y});
    sigma = (*p)[2];
    const TWindow next{int32_t(std::nearbyint(x)), int32_t(std::nearbyint(y)), ReachOf(sigma)};
    const auto same = [&next](const TVisit& v) {
      return v.Window.Cx == next.Cx && v.Window.Cy == next.Cy && v.Window.Reach == next.Reach;
    };
    const auto seen = std::find_if(visits.begin(), visits.end(), same);
    if (seen != visits.end()) {
      double sx = 0, sy = 0;
      for (auto v = seen; v != visits.end(); ++v) {
        sx += v->X;
        sy += v->Y;
      }
      const double n = double(visits.end() - seen);
      return TFloatPoint{float(sx / n), float(sy / n)};
    }
    w = next;
  }
  return std::nullopt;
}

}  // namespace astrelon
