#pragma once
// Joining a second image onto a target image: the target's canvas grows so that
// the second image, placed through the point-pair transform of the marks, fits
// in; the second image's brightness (and optionally its contrast) is matched to
// the target and the overlap is blended with weights that fall off towards each
// image's edge.
#include <cstdint>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "registration/combination/edge_distance_mask.h"

namespace astrelon {

// Margins by which the target grows.
struct TMosaicMargins {
  int32_t Left = 0, Right = 0, Top = 0, Bottom = 0;
};
// The margins for a target of tw x th and a second image of sw x sh placed by
// `count` point pairs (A in the target, B in the second image).
TMosaicMargins MosaicMargins(int32_t tw, int32_t th, int32_t sw, int32_t sh, int32_t count, TFloatPoint a1,
                             TFloatPoint a2, TFloatPoint b1, TFloatPoint b2);

// Grows `target` in place and blends `second` into it. matchContrast also
// matches the second image's contrast (gain) to the target's. Nothing happens
// when either slot holds no image; std::bad_alloc when the grown canvas does
// not fit in memory (target unchanged).
void MakeMosaic(int target, int second, bool matchContrast, TFloatPoint a1, TFloatPoint a2, TFloatPoint b1,
                TFloatPoint b2, int32_t count);

}  // namespace astrelon
