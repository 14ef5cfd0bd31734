#pragma once
// The most light a pixel of a sharpened picture can hold. A picture blurred by
// a PSF of non-negative weights that sum to 1 spreads each point's light over
// the PSF's reach, so no point of the sharp picture stands higher above the
// background than all the light the blurred one holds above the background
// within that reach. "PSF schärfen" converges on such a sharp picture; it is
// bounded by this, so that no run, whatever its PSF, can climb without limit.
// A run that sharpens as it should never comes near it: a star's peak may rise
// to at most its flux (some 16 times its peak for a star 1.6 px wide), the
// sky's noise to the sum of its excesses over a few hundred pixels.
#include <cstdint>
#include <span>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// Per pixel of the rectangle (row-major, the rectangle's width per row):
// background + the sum of max(source - background, 0) over the valid source
// pixels at the offsets `reach` (columns Left..Right, rows Top..Bottom; a pixel
// at x lights the reblur at x + offset) that lie inside the rectangle.
void LightWithinReach(std::span<const float> source, int32_t width, const TWorkRect& rect, const TRectI& reach,
                      float background, std::vector<float>& bound);

}  // namespace astrelon
