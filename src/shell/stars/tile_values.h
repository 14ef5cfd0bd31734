#pragma once
// Values added to a 32 x 32 star cutout, plane by plane.
#include "shell/stars/star_cutout.h"

namespace astrelon {

// a_p added to every valid value of plane p (1 .. the cutout's plane count);
// then its value range is recomputed.
void AddValuesToTile(TStarCutout& tile, float a1, float a2, float a3);

}  // namespace astrelon
