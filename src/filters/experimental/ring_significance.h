#pragma once
// Ring-significance map ("Radius iso Funktion"): how strongly the rings at
// distances 2 to 5 around each pixel stand out of the background, each ring's
// mean above the background level weighed by its pixel count and divided by
// the spread of its values.
#include <cstdint>
#include <span>

namespace astrelon {

// Pixels of the 11 x 11 neighbourhood whose distance rounds to r (0..5).
int32_t RingPixelCount(int32_t r);

// For a w x h plane: `out` (w x h) gets 0 at every valid pixel of `in` and, at
// every interior pixel (margin 5) with a valid value, the sum over rings 2..5
// holding more than one valid pixel of k (mean - background) / sqrt(variance +
// 3 noise), k the ring's valid count. Blank pixels of `in` stay as `out` had them.
void RingSignificancePlane(std::span<const float> in, std::span<float> out, int32_t w, int32_t h, float background,
                           float noise);

// Every plane of `destination` (a copy of `source`) with the plane's noise and
// its 10 % level over the interior as background. False when the slots differ in size.
bool RadiusIsoFunction(int source, int destination);

}  // namespace astrelon
