#pragma once
// The blur that "Gauss schärfen", "Gauss glätten" and "Unscharfe Maskierung"
// start from, kept in the dialog's FilterBlurSlot so that moving their other
// sliders only repeats the cheap per-pixel mix: the fGauss blur of the source
// (functions 3 and 5) or the smooth background of its luminance (function 6).
// It is made once per radius and working rectangle; the slot is taken from
// the free slots when the cache is built and released by the dialog.
#include "filters/dialog/filter_functions.h"

namespace astrelon {

enum class TBlurCacheKind { Blur, Background };

// Makes FilterBlurSlot hold the blur of the call's source for radius value 1
// over the call's rectangle, unless it already does. False (nothing to compute)
// when the rectangle is 2 x 2 pixels or less, no slot is free, or the run was
// stopped (the cache is then invalid).
bool PrepareFilterBlur(TFilterCall& c, TBlurCacheKind kind);

}  // namespace astrelon
