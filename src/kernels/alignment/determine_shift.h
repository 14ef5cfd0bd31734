#pragma once
// The point of the second image that corresponds to the centre of a selection
// of the reference image.
#include "kernels/alignment/shift_by_correlation.h"

namespace astrelon {

// Sets the working rectangle to selection `selection` (1 or 2) of the
// reference window. While the batch runs in disc mode and that rectangle is
// more than 100 pixels wide, the discs of both images are measured (the second
// one in searchRect) and the result is their displacement c2 - c1 with
// DiscDisplacement set and UsedScale 0. Otherwise the block matching of the
// rectangle against searchRect with radius 100.
TShiftResult DetermineShift(int refSlot, int secondSlot, int selection, double scale, bool isMosaic,
                            TWorkRect searchRect);

}  // namespace astrelon
