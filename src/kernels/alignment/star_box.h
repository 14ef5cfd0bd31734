#pragma once
// The box a star is measured in: a rectangle the user drew (or one that
// follows a star from image to image) confines the star to its pixels, so that
// a brighter object beside it is never taken; a rectangle of a pixel or two
// across is a point, around which the star is searched.
#include <cmath>

#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

// At least 3 x 3 pixels: a box.
constexpr bool ConfiningBox(const TWorkRect& r) { return r.x2 - r.x1 >= 2 && r.y2 - r.y1 >= 2; }

// Whether a point lies within the box's outer pixel centres (a star centred
// beyond them is more outside the box than in); not for a point that is not a
// number.
inline bool OnBoxPixels(const TWorkRect& box, TFloatPoint p) {
  return std::isfinite(p.X) && std::isfinite(p.Y) && p.X >= box.x1 && p.X <= box.x2 && p.Y >= box.y1 &&
         p.Y <= box.y2;
}

}  // namespace astrelon
