#pragma once
// The local background of a rectangle of a plane, for the flux balance of the
// iterative sharpenings: the plane smoothed with the Gauss family's table
// kernel, then opened with a square (the smallest value within `reach`, then
// the largest of those), so that stars and anything else narrower than the
// square vanish while smooth gradients and the level of a nebula stay.
#include <cstdint>
#include <span>
#include <vector>

#include "store/image_store.h"

namespace astrelon {

// One value per pixel of `rect` (row-major, the rectangle's width per row) from
// the w x h `plane`: blank (BlankPixel) where no valid pixel lies within reach.
// `smooth` is the Gauss radius of the smoothing. Runs on all threads; every
// value is computed the same way on any split and path.
std::vector<float> LocalBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect,
                                   float smooth, int32_t reach, bool vector);

}  // namespace astrelon
