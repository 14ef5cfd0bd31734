#pragma once
// A point in image pixel coordinates with sub-pixel precision (the centre of
// pixel k at k), and a pixel (its column and row).
#include <cstdint>

namespace astrelon {

struct TFloatPoint {
  float X = 0, Y = 0;
};

struct TPixelXY {
  int32_t X = 0, Y = 0;
  bool operator==(const TPixelXY&) const = default;
};

}  // namespace astrelon
