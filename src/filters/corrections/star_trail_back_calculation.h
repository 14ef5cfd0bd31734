#pragma once
// Star-trail back-calculation ("Strichspur zurückrechnen"): an exposure whose
// stars are drawn out into short horizontal trails is modelled as the mean of
// a sharp image over w consecutive pixels of a row. A smooth floor is
// estimated first; then each row is corrected in five sweeps so that its
// trailing mean matches the source, which turns the trails back into points.
#include <cstdint>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// Half-width K of the vertical smoothing window for trail width w:
// trunc(sqrt(w) - 0.3), 0..10.
int32_t StarTrailHalfWidth(int32_t w);

// Corrects the selected planes of `destination` (a copy of `source`) inside
// `rect` for horizontal trails `w` pixels long (at least 1); `threshold` scales
// the noise level of each plane ("Schwelle"). Pixels outside the rectangle stay.
// Clears FilterAborted, and sets it and returns false when the abort flag
// stopped the run (rows already corrected stay).
bool StrichspurZurueckrechnen(int source, int destination, int32_t w, float threshold, const TWorkRect& rect,
                              TFilterPoll& poll);

}  // namespace astrelon
