#pragma once
// "PSF schärfen" (function 9 of the filter dialog): the destination sharpened
// iteration by iteration with a measured point-spread function, sparing the
// background, the noise and saturated star cores.
#include <span>

#include "filters/dialog/filter_functions.h"
#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/psf_sharpen_passes.h"
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

// The least sum of the reblur's weights times the heights above hi around a
// position for its falling difference to be shared out: a mean height of 0.3 n
// (plain sky holds about a tenth of n above hi, and sharing there would only
// flatten the noise), and at least one step of the range.
float SharedHeight(std::span<const TPsfTap> taps, const TPsfSharpenLevels& lv);

}  // namespace astrelon
