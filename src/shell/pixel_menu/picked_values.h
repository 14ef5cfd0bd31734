#pragma once
// Values that a click on a pixel gives the pixel menu's black, white and grey
// commands: the pixel itself or the mean of its 15 x 15 neighbourhood, their
// luma and the white-balance factors.
#include <array>
#include <cstdint>

namespace astrelon {

// Mean of the valid pixels of the 15 x 15 square centred on (x, y) (offsets
// -7..7, clipped to the image) in the plane; 0 when none is valid.
double NeighbourhoodMean15(int slot, int plane, int32_t x, int32_t y);

// 0.3 r + 0.59 g + 0.11 b.
double PickedLuma(double r, double g, double b);

// Per channel the luma divided by the channel's value, 1.0 where the value is
// not above 1e-9.
std::array<double, 3> WhiteBalanceFactors(double r, double g, double b);

}  // namespace astrelon
