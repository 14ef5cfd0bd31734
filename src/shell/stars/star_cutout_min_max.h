#pragma once
// The value range of a star cutout.
#include "shell/stars/star_cutout.h"

namespace astrelon {

// Per plane the smallest and largest valid pixel (PlaneMin, PlaneMax; 1e20 and
// −1e20 for a plane without one); MinValue and MaxValue over the planes that
// have valid pixels (1e20 and −1e20 when none has).
void CutoutMinMax(TStarCutout& cutout);

}  // namespace astrelon
