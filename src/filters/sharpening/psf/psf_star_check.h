#pragma once
// Whether a picked PSF holds a star at all: a cutout of empty sky (or of a
// star too faint to stand out of the noise) gives a PSF of noise, whose
// corrections grow from iteration to iteration without bound. And which plane
// of the cutout sharpens each plane of a colour picture.
#include <array>
#include <string>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// A star's peak must stand this many times the noise above the sky under it,
// both measured on the cutout smoothed by a 3 x 3 mean. The mean gathers a
// star's light from nine pixels, and the noise is measured on the very values
// the peak is taken from: noise that neighbouring pixels share (a debayered
// colour plane, a picture shifted by a sub-pixel move, a JPEG) is no smaller
// there than it is at the peak, as it is in the differences of neighbours. The
// smoothed peaks of empty sky stay below 5.3 of that noise on plain,
// debayered and shifted skies; stars of 8 noise levels (of the unsmoothed
// pixels) and 0.8 px wide or wider stand above 7.
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
// (where all nine are valid). The sky under the star is the frame's level (the
// median of those within 5 pixels of the border); or, where the values 8
// pixels and more from index 15 either way follow a curved surface (a nebula
// or a galaxy under the star) so closely that a second-degree surface fitted
// to them leaves at most 0.35 of the spread the level leaves (noise alone,
// even a JPEG's blocks, leaves more than 0.45 of it), that surface; or a
// fourth-degree one where that leaves at most 0.35 of the second-degree one's.
// Level is the sky at index 15; Noise the root mean square of the values the
// sky was taken from about it (three rounds clipped at three times itself);
// Peak the largest value of the middle 16 x 16 pixels above the sky.
// FineNoise is the noise of 3 x 3 means of white noise of the pixels' own
// level, from the fourth differences of neighbouring pixels away from the star
// (which smooth structure leaves at 0, and noise that neighbours share makes
// smaller): the least noise the peak is judged against, where the picture's
// noise grows with its brightness (a bright nebula).
struct TPsfPeak {
  float Level = 0, Noise = 0, Peak = 0, FineNoise = 0;
};
// `fine` false leaves FineNoise at 0.
TPsfPeak MeasurePsfPeak(const TStarCutout& cutout, int plane, bool fine = true);

// The noise a PSF's peak is judged against: its frame's, held within
// PsfOwnNoiseLeast and PsfOwnNoiseRoom times the noise that the same 3 x 3
// means have across the whole picture the cutout was cut from (`ownNoise`; 0
// when unknown: the frame's alone), and at least its FineNoise. The sky the
// star stands on may not be smooth enough for the surface (a steep nebula, a
// textured surface), and a JPEG's blocks may leave a frame far quieter than
// the picture is.
constexpr float PsfOwnNoiseLeast = 0.75f;
constexpr float PsfOwnNoiseRoom = 1.5f;
float PsfJudgedNoise(const TPsfPeak& m, float ownNoise);

// True when the plane's peak stands more than PsfPeakOverNoise times its
// judged noise above the sky under it (a noise-free PSF: any peak above 0).
bool PsfHoldsStar(const TStarCutout& cutout, int plane, float ownNoise = 0);

// The cutout plane that sharpens each image plane 1..3 that `sharpened` marks:
// a grey cutout's plane, or the plane of the same colour when that holds a
// star; else, of the cutout planes of the sharpened image planes, the one whose
// peak stands highest above its noise among those holding a star. All 0 when
// none of them holds a star (the run is refused). `ownNoise` gives each cutout
// plane's noise of 3 x 3 means across its picture (picture_noise.h; 0 where
// unknown).
std::array<int, 4> PsfPlanesFor(const TStarCutout& cutout, const std::array<bool, 4>& sharpened,
                                const std::array<float, 4>& ownNoise = {});

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
