#pragma once
// A point in image pixel coordinates with sub-pixel precision (the centre of
// pixel k at k).

namespace astrelon {

struct TFloatPoint {
  float X = 0, Y = 0;
};

}  // namespace astrelon
