#pragma once
// The significant part of a star cutout, for the PSF sharpening.
#include "shell/stars/star_cutout.h"
#include "store/image_store.h"

namespace astrelon {

// Bounds (cutout coordinates 0..31) of the pixels whose magnitude reaches 2 % of
// the cutout's largest magnitude, searched over the whole cutout (cell size 32)
// or its middle 8..22. The bounds start at 15 and only widen.
void FindPsfExtent(const TStarCutout& cutout, TRectI& extent);

}  // namespace astrelon
