#pragma once
// "Iteratives Gauss schärfen" (function 10 of the filter dialog): the
// destination sharpened iteration by iteration against its own Gaussian blur,
// sparing the background, the noise and saturated star cores.
#include <functional>

#include "filters/dialog/filter_functions.h"

namespace astrelon {

// Starts the destination from the source and runs value 2 ("Iterationen",
// rounded half to even) iterations on the call's planes and rectangle: the
// destination blurred with radius value 1 into FilterBlurSlot, the difference
// to the source (scaled by the strength) blurred with half the radius in
// FilterWorkSlot, and that applied softly with the flux balance
// (sharpen_flux_balance.h; the destination's blur is the PSF, so that faint
// stars keep their flux as bright ones do); then a redraw. Each plane goes
// with its own levels (iterative_sharpen_levels.h); no pixel whose source
// stands above its saturation level is lowered, and what the run shows keeps
// the plane's clipped cores (kept_cores.h). Check box 1 is "Schwarzschwelle";
// `strength` gives value 3 ("Stärke") anew each iteration (empty: the call's
// value 3). The work slot is released at the end, the blur slot stays with the
// dialog. When no free slot can hold the blur or the work copy, nothing
// changes and the user is told. A run stopped by the abort flag keeps the
// iterations done (FilterAborted is then set). `balanced` false leaves the
// balance out, `keepCores` false the kept cores (for comparisons).
void IterativeGaussSharpen(TFilterCall& c, const std::function<float()>& strength = {}, bool balanced = true,
                           bool keepCores = true);

}  // namespace astrelon
