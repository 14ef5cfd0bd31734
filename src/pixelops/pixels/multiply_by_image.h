#pragma once
// Multiplication of an image by a second image, pixel by pixel at the same
// coordinates, optionally normalised by the second image's mean.
#include <span>

namespace astrelon {

// One run of a row: a becomes a · b · s where both are valid; elsewhere a stays
// (blank stays blank). The product is formed in double and stored as float.
void MultiplyRun(std::span<float> a, std::span<const float> b, double s);

// Multiplies every plane p of `destination` (a copy of the active image) by
// plane p of a colour `second`, or by plane 1 of a grey one. Pixels beyond the
// second image's width or height keep their value. With `scaleByMean` each
// product is also multiplied by s = 1 / max(mean of the valid pixels of the
// second plane, 0.1). Nothing happens unless both slots are in use.
void MultiplyByImage(int destination, int second, bool scaleByMean);

}  // namespace astrelon
