#pragma once
// Sampling a plane at real positions: bilinear over the valid neighbours.
#include <cstdint>

namespace astrelon {

// Value at (x, y) from the 2 x 2 cell at (trunc x, trunc y), blank neighbours
// skipped (weights renormalised); -1e11 when too little valid weight remains.
float InterpolatePixel(int slot, int plane, float x, float y);
// Two taps along a row: tap trunc(x) weighs 1 - f, the next f; blank taps are
// skipped; -1e11 when both are blank or the row lies outside the plane.
float SampleAlongRowLinear(int slot, int plane, int32_t row, float x);

}  // namespace astrelon
