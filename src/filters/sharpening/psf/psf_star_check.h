#pragma once
// Whether a picked PSF holds a star at all: a cutout of empty sky (or of a
// star too faint to stand out of the noise) gives a PSF of noise, whose
// corrections grow from iteration to iteration without bound. And which plane
// of the cutout sharpens each plane of a colour picture.
#include <array>
#include <string>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// A star's peak must stand this many times the noise above the cutout's level,
// both measured on the cutout smoothed by a 3 x 3 mean. The mean gathers a
// star's light from nine pixels, and the noise is measured on the very values
// the peak is taken from: noise that neighbouring pixels share (a debayered
// colour plane, a picture shifted by a sub-pixel move) is no smaller there than
// it is at the peak, as it is in the differences of neighbours. The smoothed
// peaks of empty sky stay below 5.3 of that noise on plain, debayered and
// shifted skies; stars of 8 noise levels (of the unsmoothed pixels) and 0.8 px
// wide or wider stand above 7.
constexpr float PsfPeakOverNoise = 6.0f;

// The sky under plane `plane` (1..3) of a cutout: its gradient across the
// cutout (per pixel, along the rows and down the columns) from the medians of
// its four outer columns on either side and of its four outer rows (none where
// the image's edge left one side blank), its level at index 15 (the median of
// the valid values of those rows and columns less the gradient), and the
// noise of single values about it (their root mean square, three rounds
// clipped at three times itself).
struct TPsfFrame {
  double Level = 0, Gx = 0, Gy = 0, Noise = 0;
  double At(int x, int y) const { return Level + Gx * (x - 15) + Gy * (y - 15); }
};
TPsfFrame PsfFrameOf(const TStarCutout& cutout, int plane);

// The level, the noise and the peak height of plane `plane` (1..3) of a
// cutout. Its values less the frame's gradient are smoothed by a 3 x 3 mean
// (where all nine are valid); of these, the frame (those within 5 pixels of
// the border) gives the level (their median) and the noise (their root mean
// square about it, three rounds clipped at three times itself), and the
// largest of the middle 16 x 16 pixels less the level is the peak.
struct TPsfPeak {
  float Level = 0, Noise = 0, Peak = 0;
};
TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane);

// True when the plane's peak stands more than PsfPeakOverNoise times its noise
// above its level (a noise-free PSF: any peak above 0).
bool PsfHoldsStar(const TStarCutout& cutout, int plane);

// The cutout plane that sharpens each image plane 1..3 that `sharpened` marks:
// a grey cutout's plane, or the plane of the same colour when that holds a
// star; else, of the cutout planes of the sharpened image planes, the one whose
// peak stands highest above its noise among those holding a star. All 0 when
// none of them holds a star (the run is refused).
std::array<int, 4> PsfPlanesFor(const TStarCutout& cutout, const std::array<bool, 4>& sharpened);

// The least magnitude of a value of plane `plane` of a picked PSF that the
// reblur weighs with: a 75th of the plane's largest magnitude (that at least
// 0.1), and at least PsfTapNoise times the noise of its frame. Values within
// the noise are no part of the star: a faint PSF whose noise the reblur took
// in would sharpen with an operator that amplifies patterns of the noise.
constexpr float PsfTapNoise = 3.0f;
float PsfTapThreshold(const TStarCutout& psf, int plane);

// The message when no plane holds a star.
std::string NoStarInPsfText();

}  // namespace astrelon
