#pragma once
// Gaussian smoothing of a 32 × 32 star cutout, mixed into its pixels.
#include "shell/stars/star_cutout.h"

namespace astrelon {

// Every plane of the cutout in place: kernel k(i) = e^(−(i/σ)²) up to the
// radius R, the first i with k(i) < 0.01; a vertical then a horizontal pass of
// k-weighted means over the valid pixels within R (clipped at the edges); each
// valid pixel p becomes mean·s + p·(1 − s) with s = strength/100 in 0 .. 1.
// Blank pixels stay blank. The value range is recomputed.
void SmoothStarCutout(TStarCutout& cutout, double strength, double sigma);

}  // namespace astrelon
