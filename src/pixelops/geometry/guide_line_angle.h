#pragma once
// The rotation that makes a drawn guide line horizontal or vertical.
#include <cstdint>

namespace astrelon {

// The rotation in degrees, counter-clockwise on the screen as RotateImage turns,
// that makes the line (x1, y1)-(x2, y2) horizontal when it is closer to
// horizontal, else vertical; the result lies in -90..90.
double GuideLineAngle(int32_t x1, int32_t y1, int32_t x2, int32_t y2);

}  // namespace astrelon
