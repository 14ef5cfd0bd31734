#pragma once
// Whether a picked PSF holds a star at all: a cutout of empty sky (or of a
// star too faint to stand out of the noise) gives a PSF of noise, whose
// corrections grow from iteration to iteration without bound once the
// background is not spared ("Schwarzschwelle" off).
#include <string>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// A star's peak must stand this many times the noise above the cutout's level.
// Empty sky of 32 x 32 pixels has its largest value about 3.2 noise levels
// above its level; 5 leaves room for the noise measured on the frame alone.
constexpr float PsfPeakOverNoise = 5.0f;

// The level, the noise and the peak height of plane `plane` (1..3) of a
// cutout, from its frame (the 4 outer rows and columns): the gradient is the
// median difference of neighbouring frame pixels along the rows and down the
// columns; the noise the clipped root mean square of those differences about
// the gradient, over √2 (a star's wings cancel in the differences); the level
// the median of the frame less the gradient (taken about the centre, index
// 15), and the peak the largest value of the middle 16 x 16 pixels less the
// gradient, above the level. Blank values are skipped.
struct TPsfPeak {
  float Level = 0, Noise = 0, Peak = 0;
};
TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane);

// True when the plane's peak stands more than PsfPeakOverNoise times its noise
// above its level (a noise-free PSF: any peak above 0).
bool PsfHoldsStar(const TStarCutout& cutout, int plane);

// The message when it does not.
std::string NoStarInPsfText();

}  // namespace astrelon
