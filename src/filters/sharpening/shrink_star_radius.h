#pragma once
// Star-radius reduction ("Sternradius verkleinern"): a soft grey-value erosion
// whose radius at each pixel follows how star-like its surroundings are (bright
// and peaked against the local minimum), so that stars shrink and flat
// background stays.
#include <cstdint>

#include "kernels/gauss/filter_poll.h"
#include "store/image_store.h"

namespace astrelon {

// Erodes the selected planes of `source` into `destination` (a copy of it) inside
// `rect`. `radius` is the erosion radius ("Radius"), `lowerThreshold` scales the
// level added back to the eroded value ("Untere Schwelle"), `hideStars` in percent
// mixes the full radius into every pixel ("Sterne ausblenden"); `horizontalOnly`
// erodes along rows only ("Nur horizontal"). A result is never above the source
// value. Clears FilterAborted, and sets it and returns false when the abort flag
// stopped the run (the destination then holds a partial result). Afterwards the
// destination's display histogram is computed anew.
bool ShrinkStarRadius(int source, int destination, bool horizontalOnly, float radius, float lowerThreshold,
                      float hideStars, const TWorkRect& rect, TFilterPoll& poll);

}  // namespace astrelon
