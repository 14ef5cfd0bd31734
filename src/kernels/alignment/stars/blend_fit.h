#pragma once
// A blend of a few stars fitted at once: a background (a level, or a
// quadratic surface) and one elliptical Gaussian per star,
// A exp(-((x - X) / Wx)^2 - ((y - Y) / Wy)^2), by least squares over the
// given pixels (Levenberg-Marquardt), so that stars whose light overlaps, or
// a star and the nebula or galaxy it stands on, share it out as it falls.
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

struct TBlendPixel {
  double X, Y, V;
};

// A star's Gaussian, A exp(-((x - X) / Wx)^2 - ((y - Y) / Wy)^2).
struct TBlendStar {
  double X, Y, A, Wx, Wy;
  double At(double x, double y) const {
    const double u = (x - X) / Wx, v = (y - Y) / Wy;
    return A * std::exp(-u * u - v * v);
  }
};

// The background: Terms[0] + Terms[1] u + Terms[2] v + Terms[3] u^2 +
// Terms[4] u v + Terms[5] v^2 with u = (x - Cx) / Scale, v = (y - Cy) /
// Scale; `Quadratic` false: the level Terms[0] alone.
struct TBlendBackground {
  double Cx = 0, Cy = 0, Scale = 1;
  bool Quadratic = false;
  std::vector<double> Terms = std::vector<double>(6, 0.0);
};

// Refines `stars` (the first guesses) and the background over `pixels`;
// false when the fit cannot start (the guesses then stay as they were).
bool FitBlend(std::span<const TBlendPixel> pixels, std::vector<TBlendStar>& stars, TBlendBackground& background);

}  // namespace astrelon
