#pragma once
// The transform that maps a pixel (x, y) of a reference image onto the second
// image, from one or two point pairs (A in the reference, B in the second
// image): x' = a x - b y + tx, y' = b x + a y + ty. One pair is a pure shift,
// two pairs a shift, rotation and scale that takes A1 onto B1 and A2 onto B2;
// more pairs use the batch's multi-star fit.
#include <cstdint>

#include "kernels/alignment/float_point.h"

namespace astrelon {

struct TPointPairTransform {
  double A = 1, B = 0, Tx = 0, Ty = 0;
  // Every sample lies on a whole pixel (no shift, or a shift by whole pixels).
  bool WholePixel = true;
  // Position in the second image of reference pixel (x, y).
  void Map(double x, double y, double& xs, double& ys) const {
    xs = A * x - B * y + Tx;
    ys = B * x + A * y + Ty;
  }
};

// The transform of `count` pairs. Two pairs closer than one pixel in either
// image count as one pair (their scale would divide by zero or collapse the
// image to a point); no pair gives the identity.
TPointPairTransform PointPairTransform(int32_t count, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1, TFloatPoint b2);

// Whether a position lies inside a second image of width x height for sampling:
// 0 <= x < width - 0.9 and 0 <= y < height - 0.9.
inline bool InsideSecondImage(double x, double y, int32_t width, int32_t height) {
  return x >= 0 && y >= 0 && x < width - 0.9 && y < height - 0.9;
}

}  // namespace astrelon
