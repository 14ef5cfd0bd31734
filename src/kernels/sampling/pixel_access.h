#pragma once
// Reading and writing single pixels of a slot with a bounds test.
#include <cstdint>

namespace astrelon {

// The stored value of plane p (1..3) at column x, row y; -1e11 for a position
// outside the image or a plane without its pixels.
float GetPixelValue(int slot, int plane, int32_t x, int32_t y);
// Writes one pixel; nothing outside the image or for a plane without its pixels.
void SetPixelValue(int slot, int plane, int32_t x, int32_t y, float value);

}  // namespace astrelon
