#pragma once
// Automatic removal of a smooth background slope without a background
// estimate: a linear gradient (one slope across the width, one across the
// height) found by a coordinate search that makes the image flattest, or the
// same with a radial quadratic term around a free centre found by maximising
// the peak of the image's histogram.
#include <cstdint>

namespace astrelon {

// The linear model: lin(x, y) = gx (0.5 - x / w) + gy (0.5 - y / h), zero at
// the image centre so that the mean level stays.
struct TLinearGradient {
  double gx = 0, gy = 0;
};

// The radial model: lin(x, y) + a ((x - x0)^2 + (y - y0)^2).
struct TRadialGradient {
  double gx = 0, gy = 0, a = 0, x0 = 0, y0 = 0;
};

// Correction of the linear model at (x, y) of a w x h image.
constexpr double LinearCorrection(double gx, double gy, int32_t x, int32_t y, int32_t w, int32_t h) {
  return gx * (0.5 - double(x) / w) + gy * (0.5 - double(y) / h);
}

// Searches gx, gy so that plane + lin is flattest: the squared deviations of
// the samples (every k-th pixel per axis, k = round(sqrt(w h)) div 400 + 1)
// from their mean, without the largest term, so that one bright star does not
// steer the fit. Steps start at 5 % of the plane's range and end below 5 % of
// its noise. A plane without valid pixels or a range that is zero or not
// finite gives 0, 0 at once. Clears the abort flag; setting it ends the search.
TLinearGradient FitLinearGradient(int slot, int plane);

// Searches gx, gy, a, x0, y0 so that the histogram of plane + the radial model
// over every k-th pixel (k = 2 (w div 768 + 1)) has the highest peak (bins of
// about the noise, at most 8192; the peak refined between bins by the bicubic
// kernel). The first steps move the image's sides (gx, gy) by 2 % of the range,
// its corners (a) by 5 % and the centre by 5 % of the half size; a parameter that
// gains in neither direction has its step halved and turned around, so that
// every parameter reaches either sign. An image whose maximum equals its
// minimum (or whose range is not finite) is not fitted: all zero with the
// centre at (w / 2, h / 2).
TRadialGradient FitRadialGradient(int slot, int plane);

// For every selected plane of the slot: the fit of the mode (1 linear, 2
// radial), then every valid pixel corrected in place; blank pixels stay.
void FlattenGradient(int slot, int mode);

}  // namespace astrelon
