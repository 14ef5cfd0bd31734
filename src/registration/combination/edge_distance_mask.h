#pragma once
// Edge-distance masks of the two-image mosaic: how far each valid pixel lies
// from the nearest blank pixel (city-block steps, capped), the blend weight of
// that image near its edges.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// Distance cap of the edge-distance masks.
constexpr uint8_t MosaicMaskCap = 100;

// Edge-distance mask of a width x height plane: 0 for a blank pixel, otherwise
// the 4-connected (city-block) distance to the nearest blank pixel, at most
// 100. With `borderIsEdge` the image border counts as one pixel away from a
// blank (its valid pixels start at 1). The outermost rows and columns keep
// their start value (0, 1 or 100) and the four corners do not reach the
// interior. Rows, then columns, run on bands over the cores ("Multicores"
// option); the result does not depend on the split.
std::vector<uint8_t> EdgeDistanceMask(std::span<const float> plane, int32_t width, int32_t height, bool borderIsEdge);

}  // namespace astrelon
