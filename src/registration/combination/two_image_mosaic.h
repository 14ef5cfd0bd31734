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

namespace astrelon {

// Distance cap of the edge-distance masks.
constexpr uint8_t MosaicMaskCap = 100;

// Edge-distance mask of a width x height plane: 0 for a blank pixel, otherwise
// the 4-connected (city-block) distance to the nearest blank pixel, at most
// 100. With `borderIsEdge` the image border counts as one pixel away from a
// blank (its valid pixels start at 1). The outermost rows and columns keep
// their start value (0, 1 or 100); two passes over the image.
std::vector<uint8_t> EdgeDistanceMask(std::span<const float> plane, int32_t width, int32_t height, bool borderIsEdge);

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
