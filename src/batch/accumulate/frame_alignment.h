#pragma once
// Where a target pixel lies in the current frame: the point-pair transform of
// one or two pairs, or (more pairs) the multi-star fit and its local shift
// grid, as the combination of the batch uses them; and the way back for the
// forward mapping of mosaic pixels.
#include <cstdint>

#include "kernels/alignment/alignment_points.h"
#include "kernels/sampling/fitted_transform.h"
#include "kernels/sampling/point_pair_transform.h"
#include "registration/stacking/stack_alignment.h"

namespace astrelon {

struct TFrameAlignment {
  int32_t Count = 1;
  TPointPairTransform Pairs;  // counts 1 and 2
  TFittedTransform Fitted;    // counts above 2
  const TShiftGrid* Grid = nullptr;

  // The frame position of target position (c, r).
  void Map(double c, double r, double& x, double& y) const;
  // The target position of frame position (x, y) (counts 1 and 2).
  void Unmap(double x, double y, double& c, double& r) const;
};

// The alignment of the points with `count` pairs (above 2: BatchFittedTransform
// and BatchShiftGrid).
TFrameAlignment FrameAlignment(const TAlignPoints& points, int32_t count);

}  // namespace astrelon
