#pragma once
// The point-spread function that "PSF schärfen" weighs its corrections with: the
// picked star cutout smoothed and raised to the fourth power, so that only its
// core carries weight.
#include "shell/stars/star_cutout.h"

namespace astrelon {

// The filter dialog's steepened copy of the picked PSF (made when the function starts).
extern TStarCutout SteepenedPsf;

// Every plane k in place, with m its maximum and scale = 1/m (10000 when m is
// 0.00001 or less): v > 0 becomes (v·scale)^4, other valid values v become
// -(v·scale)^4; blank values stay. The value range is recomputed.
void SteepenStarCutout(TStarCutout& cutout);

// SteepenedPsf := the picked cutout, smoothed (strength 20, width 3) and steepened.
void PrepareSteepenedPsf(const TStarCutout& picked);

}  // namespace astrelon
