#pragma once
// "PSF schärfen" (function 9 of the filter dialog): the destination sharpened
// iteration by iteration with a measured point-spread function, sparing the
// background, the noise and saturated star cores.
#include "filters/dialog/filter_functions.h"
#include "shell/stars/star_cutout.h"

namespace astrelon {

// Starts the destination from the source and runs value 2 ("Iterationen",
// rounded half to even) iterations on the call's planes and rectangle, each a
// reblur with `picked` (the cutout as picked, on its significant support), a
// correction weighed with `steepened` (the linear form shares the darkening
// around stars out over `picked`'s reach by height, so that the protected
// background keeps no light that belongs to a star) and its soft application,
// then a redraw.
// Value 1 is "Stärke", check box 1 "Schwarzschwelle", check box 2
// "Umgebungsschwelle", RadioGroup1 item 0 the linear form (else quadratic).
// Releases the dialog's blur cache. A run stopped by the abort flag keeps the
// iterations done (FilterAborted is then set).
void IterativePsfSharpen(TFilterCall& c, const TStarCutout& picked, const TStarCutout& steepened);

}  // namespace astrelon
