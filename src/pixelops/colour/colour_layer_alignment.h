#pragma once
// The red and blue planes of a colour image registered onto its green plane
// from the shifts measured in one or two regions.
#include <array>
#include <optional>

#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

// Where a region's centre lies in plane 1 and in plane 3 of the slot, the
// region matched against plane 2 (search range 40).
struct TLayerMatch {
  TFloatPoint Centre;            // ((x1 + x2) / 2, (y1 + y2) / 2) in green
  std::array<TFloatPoint, 2> At;  // the same point in red, in blue
};

// Block matching of the region in red and in blue against green; nullopt when a
// measurement fails (a region too small to match, nothing evaluated).
std::optional<TLayerMatch> MeasureLayerShifts(int slot, const TWorkRect& region);

// Plane 1 (red) and/or plane 3 (blue) of `source` resampled into the same
// plane of `target` so that the matched points fall onto their green centres:
// one match a shift, two a shift, rotation and scale.
void AlignColourLayers(int source, int target, bool red, bool blue, const TLayerMatch& first,
                       const std::optional<TLayerMatch>& second);

}  // namespace astrelon
