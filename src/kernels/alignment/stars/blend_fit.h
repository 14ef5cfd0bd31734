#pragma once
// A blend of a few stars fitted at once: a level and one elliptical Gaussian
// per star, A exp(-((x - X) / Wx)^2 - ((y - Y) / Wy)^2), by least squares
// over the given pixels (Levenberg-Marquardt), so that stars whose light
// overlaps share it out as it falls.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

struct TBlendPixel {
  double X, Y, V;
};

struct TBlendStar {
  double X, Y, A, Wx, Wy;
};

// Refines `stars` (the first guesses) and `level` over `pixels`; false when
// the fit does not settle (the guesses then stay as they were).
bool FitBlend(std::span<const TBlendPixel> pixels, std::vector<TBlendStar>& stars, double& level);

}  // namespace astrelon
