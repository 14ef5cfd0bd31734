#pragma once
// Fitting a flattened rectangle to the untouched image around it: along each
// side that stops two or more pixels inside the image, the outside-minus-inside
// step is fitted by a quadratic; the four sides are made to agree at the
// corners, and the correction surface spanned by them is added inside the
// rectangle, fading to the source within a quarter of the width or height of
// each fitted side.
#include <cstdint>
#include <span>

#include "store/image_store.h"

namespace astrelon {

// A quadratic a0 + a1 i + a2 i^2 along one side (i = 0 at its top or left end).
struct TSideFit {
  double A0 = 0, A1 = 0, A2 = 0;
  double At(double i) const { return A0 + (A1 + A2 * i) * i; }
};

// One plane: `flattened` (width x height) is changed inside `rect` (inclusive,
// inside the plane); `source` is the untouched image. Nothing happens when no
// side has room.
void FitFlattenedEdges(std::span<const float> source, std::span<float> flattened, int32_t width, int32_t height,
                       const TWorkRect& rect);

}  // namespace astrelon
