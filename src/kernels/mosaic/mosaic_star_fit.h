#pragma once
// The sub-pixel centre of a star on an undebayered colour mosaic, whatever
// the white balance and black level of its sites.
//
// Each of the four sites of the 2 x 2 cell is a camera channel of its own: its
// background (a plane, so that a gradient does not pull the centre) is fitted
// to a ring around the star and taken off, and its values are divided by its
// noise there. One pixel-integrated Gaussian with a common centre and width,
// and a height and level per site, is then fitted to the pixels around the
// star. A gain and an offset per site (the multipliers and the bias of a
// colour-mosaic correction) change nothing of the result.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "kernels/alignment/float_point.h"

namespace astrelon {

// The centre of the star near `start` (pixel centres at whole numbers);
// `sigmaStart` is a first guess of its Gaussian width. Blank pixels (<= -1e9)
// and the `skipped` ones take no part. nullopt when no star stands out of the
// noise there or the fit does not settle near the start.
std::optional<TFloatPoint> FitMosaicStar(std::span<const float> plane, int32_t width, int32_t height,
                                         TFloatPoint start, double sigmaStart,
                                         std::span<const TPixelXY> skipped = {});

// The star as one fit in the window around `at` finds it: its centre and
// width, and what it makes of each pixel (in the plane's units).
struct TMosaicStarModel {
  double X = 0, Y = 0, Sigma = 0;
  // The value the model gives pixel (x, y), the height of the star's peak on
  // that pixel's site, and the star's light on the pixel.
  double Value(int32_t x, int32_t y) const;
  double Height(int32_t x, int32_t y) const;
  double Light(int32_t x, int32_t y) const;  // the star's alone

  int32_t Cx = 0, Cy = 0;
  std::array<double, 4> SiteHeight{}, SiteLevel{}, Noise{}, Level{}, Gx{}, Gy{};
};
std::optional<TMosaicStarModel> FitMosaicStarAt(std::span<const float> plane, int32_t width, int32_t height,
                                                TPixelXY at, double sigma, std::span<const TPixelXY> skipped);

// The Gaussian width of a star whose profile through three rows falls to 20 %
// of its height over `profileWidth` pixels (the mosaic profile search's width).
double SigmaOfProfileWidth(int32_t profileWidth);

}  // namespace astrelon
