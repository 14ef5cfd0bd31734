#pragma once
// The position of the brightest star in a rectangle: its brightest box found
// first, then the weighted centroid of the star's pixels within 15 pixels of it.
// Positions are pixel coordinates (the centre of pixel k at k).
#include <cstdint>

#include "store/image_store.h"

namespace astrelon {

struct TStarPosition {
  float X = 0, Y = 0;
};
// Results of the last search: the position and a measure of the star's radius
// (1 to 5 pixels).
extern TStarPosition StarPosition;
extern int32_t StarAperture;

// Sets the working rectangle to `rect` (clipped to the image) and finds the
// star there on the plane GetRgbCode gives. `threshold` is the noise level
// (negative: estimated from the plane, at least 0.01); `aperture` the radius of
// the box whose mean finds the brightest place. Without a star above the noise
// the position is the brightest place (the rectangle's centre when it has no
// valid pixel).
void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture);

}  // namespace astrelon
