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
// cutout: the level is the median of its frame (the 4 outer rows and columns),
// the noise the clipped root mean square of the differences of neighbouring
// frame pixels in a row, over √2 (gradients and the wings of a star cancel in
// the differences), and the peak the largest value of the middle 16 x 16
// pixels above the level. Blank values are skipped.
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
