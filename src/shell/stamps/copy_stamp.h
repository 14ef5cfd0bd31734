#pragma once
// The copy stamp: a stroke of image points drawn with the mouse, and the stroke
// applied to the image with pixels copied from the source window (the same
// image or another one) through the stamp's disc.
#include <cstdint>
#include <span>
#include <vector>

#include "shell/stamps/stamp_blend.h"
#include "store/image_store.h"

namespace astrelon {

// Starts StampPath at the press point; appends a point under the dragged cursor.
void StartStampPath(TPointI p);
void AppendStampPoint(TPointI p);

// The stamp positions of a stroke: its first point, then every segment walked
// pixel by pixel from the previous point along its longer axis (the other
// coordinate rounded, halves to even), a position equal to the one before skipped.
std::vector<TPointI> StampPositions(std::span<const TPointI> path);

// Applies StampPath to the slot with pixels of CopySourceSlot: offset (0, 0) when
// sameSpot is set, else the stroke's first point minus CopySourcePoint. The
// bounding box of the stroke grown by the radius is saved for undo. Each pixel is
// written once, by the position that gives it the largest weight; source pixels
// outside the source image are skipped. A source slot that is no longer in use
// is forgotten (CopySourceSlot := -1) and nothing changes. True when applied.
bool ApplyCopyStamp(int slot, TStampMode mode, bool sameSpot, int32_t radiusSquared);

}  // namespace astrelon
