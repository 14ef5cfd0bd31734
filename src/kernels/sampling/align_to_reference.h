#pragma once
// Resampling an image (or one of its planes) onto the grid of a reference
// image through the point-pair transform: every target pixel (x, y) takes the
// source at the mapped position, blank (-1e11) where that lies outside the
// source. Whole-pixel shifts copy pixels; otherwise the program-wide
// interpolation kind samples, its window set from the settings first.
#include <cstdint>

#include "kernels/sampling/point_pair_transform.h"

namespace astrelon {

// Fills every pixel of the target (its own size) from the source: a grey
// target from plane 1, a colour target from a colour source plane by plane,
// a colour target from a grey source with plane 1 in all three planes.
void AlignImageToReference(int source, int target, int32_t count, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1,
                           TFloatPoint b2);

// The same for one plane (1..3) of the source into one plane of the target.
void AlignColourPlane(int source, int sourcePlane, int target, int targetPlane, int32_t count, TFloatPoint a1,
                      TFloatPoint a2, TFloatPoint b1, TFloatPoint b2);

}  // namespace astrelon
