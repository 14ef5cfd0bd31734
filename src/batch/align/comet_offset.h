#pragma once
// The comet offset of the current image against the first: by observation
// time (the page's values then in pixels per minute), else by the difference
// of series numbers, else one more step per image.
#include <cstdint>

#include "kernels/alignment/float_point.h"

namespace astrelon {

struct TCometOffsetInput {
  bool ByTimestamp = false;
  double CurrentTime = -1, TargetTimeStart = 0;  // days; negative: unknown
  int32_t SeriesNumber = -1, TargetSeriesNumber = -1;
  double PerFrameX = 0, PerFrameY = 0;  // per series image, or per minute by time
  bool FirstImage = false;
};

// The new offset from the input and the offset left by the previous image.
void CometOffset(const TCometOffsetInput& in, float& shiftX, float& shiftY);
// Sets BatchRun's CometShiftX, CometShiftY for the current image from the
// run's comet motion; none while the comet motion is being computed.
void UpdateCometOffset();
// Whether the current image has a comet offset (either part beyond 1e-9).
bool HasCometOffset();
// Whether the run applies a comet motion, so that its target is a comet stack.
bool CometRun();
// The offset by which the target's points A of the current image are moved:
// the comet offset, or none for a file of a loaded shift list, whose points
// were recorded with the offset they were combined with.
TFloatPoint ReferencePointOffset();

}  // namespace astrelon
