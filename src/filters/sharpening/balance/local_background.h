#pragma once
// The local background of a rectangle of a plane, for the flux balance of the
// iterative sharpenings: the plane smoothed with the Gauss family's table
// kernel, then opened with a square (the smallest value within `reach`, then
// the largest of those), so that stars and anything else narrower than the
// square vanish while smooth gradients and the level of a nebula stay.
// On a slope steeper than a faint star's fall the square's lowest corner comes
// to lie on the star, and the opening keeps it: so the smoothed plane is also
// opened less its trend (its Gauss blur of radius reach / 2, which keeps a
// slope as it is), the trend added back; near a bright star the trend holds
// some of its light, where the plain opening is the lower. The smaller of the
// two is the background.
#include <cstdint>
#include <span>

#include "store/image_store.h"

namespace astrelon {

// One value per pixel of `rect` (row-major, the rectangle's width per row) from
// the w x h `plane` into `out`: blank (BlankPixel) where no valid pixel lies
// within reach. `smooth` is the Gauss radius of the smoothing; `work` is a
// buffer as large as `out`, which must hold the rectangle (false otherwise).
// Runs on all threads; every value is computed the same way on any split and
// path.
bool LocalBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect, float smooth,
                     int32_t reach, bool vector, std::span<float> work, std::span<float> out);

// The local background the flux balance of a sharpening whose PSF has the
// Gauss radius `radius` works with (sharpen_flux_balance.h): smoothed with that
// radius (at least 2) and opened as far as the balance's two blurs reach
// together. As LocalBackground.
bool BalanceBackground(std::span<const float> plane, int32_t w, int32_t h, const TWorkRect& rect, float radius,
                       bool vector, std::span<float> work, std::span<float> out);

}  // namespace astrelon
