#pragma once
// "PSF schärfen" (function 9 of the filter dialog): the destination sharpened
// iteration by iteration with a measured point-spread function, sparing the
// background, the noise and saturated star cores.
#include <cmath>
#include <span>

#include "filters/dialog/filter_functions.h"
#include "filters/sharpening/iterative_sharpen_levels.h"
#include "filters/sharpening/psf_sharpen_passes.h"
#include "shell/stars/star_cutout.h"

namespace astrelon {

// Starts the destination from the source and runs value 2 ("Iterationen",
// rounded half to even) iterations on the call's planes and rectangle, each a
// reblur with `picked` (the cutout as picked, on its significant support), a
// correction weighed with `steepened`, its soft application and, in the linear
// form, the flux balance over `picked`'s reach (sharpen_flux_balance.h), so
// that faint stars keep their flux as bright ones do; then a redraw. Both PSFs
// go with their planes centred on the picked star, a neighbour's core taken
// out (psf_centring.h), so that nothing moves. Each plane goes with its own
// levels (iterative_sharpen_levels.h) and saturation marks, its hi raised by
// as much as its local background stands clear above its background (on a
// nebula no dark halos around the stars), no pixel rises above the light
// within the PSF's reach (light_within_reach.h), and what the run shows keeps
// the plane's clipped cores (kept_cores.h). A plane whose plane of `picked`
// holds no star goes with the one of another plane that holds one, and the
// reblur takes only values above the PSF's noise (psf_star_check.h); when none
// of the planes the call uses holds a star, nothing changes and the user is
// told. Value 1 is "Stärke", check box 1 "Schwarzschwelle", check box 2
// "Umgebungsschwelle", RadioGroup1 item 0 the linear form (else quadratic).
// Releases the dialog's blur cache. A run stopped by the abort flag keeps the
// iterations done (FilterAborted is then set). `balanced` false leaves the
// balance out, `keepCores` false the kept cores (for comparisons).
void IterativePsfSharpen(TFilterCall& c, const TStarCutout& picked, const TStarCutout& steepened,
                         bool balanced = true, bool keepCores = true);

// The Gauss radius of the flux balance for the reblur's taps: a Gaussian as
// wide as the PSF's star (the second moment of the positive weights nearer to
// the centre than the square root of `reach2`, which leaves a neighbour within
// the cutout out; a sigma of at least half a pixel). A balance as wide as a
// star and its neighbour would hand each star's withheld light on to one side
// of it, and move it.
float BalanceRadius(std::span<const TPsfTap> taps, double reach2 = HUGE_VAL);

}  // namespace astrelon
