#pragma once
// The star-profile analysis of a star among other light: the smooth
// background around it (a nebula, a galaxy's halo, a gradient), the
// Gaussians of the stars beside it (also of one hidden in its shoulder) and
// hit pixels are taken off the cutout before the star is fitted at its
// own peak pixel, so that none of them pulls its centre. A star on a flat sky
// with nothing else in its cutout is analysed on the pixels as they are. On
// an undebayered colour mosaic the fits see each pixel as the 1-2-1 weighted
// mean around it, which weighs the four sites alike.
#include <optional>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "kernels/alignment/stars/box_stars.h"

namespace astrelon {

// The fitted centre, none when no star could be fitted at its peak;
// whether the star stands alone (a flat sky, no other star or hit pixel in
// its cutout), where a colour mosaic's own fit is the finer.
struct TStarAmongLight {
  std::optional<TFloatPoint> Centre;
  bool Alone = false;
  // The fitted centres of the stars taken off beside it (a star hidden in its
  // shoulder among them).
  std::vector<TFloatPoint> Neighbours;
};

// Fits `star` (a candidate of the slot's `plane`) with `others` (the stars
// of the field around it) taken off and the `foreign` pixels (no star light,
// ForeignPixels) and `hits` (those of the field around it) taken by their
// stand-ins; `noise` is the plane's noise level and `unit` one
// 16-bit level in the plane's units (StarLevelUnit). The analysis is left in
// MeasuredStar.
TStarAmongLight FitStarAmongLight(int slot, int plane, const TStarCandidate& star,
                                  std::span<const TStarCandidate> others, double noise, bool mosaic, double unit,
                                  const TForeignPixels& foreign = {}, const TForeignPixels& hits = {});

}  // namespace astrelon
