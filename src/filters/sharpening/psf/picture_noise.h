#pragma once
// The noise a PSF's peak is judged against where the sky under the star is
// not smooth (a steep nebula, a textured surface): the noise of the picture's
// own 3 x 3 means, which the PSF check measures its peaks with
// (psf_star_check.h), taken across the whole plane, so that no structure
// around the star counts as noise.
#include <array>
#include <cstdint>
#include <span>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// The noise of the 3 x 3 means of a w x h plane as the PSF check measures it
// on a cutout's frame (MeasurePsfPeak's Noise), taken on windows of the
// cutout's size tiling the plane (up to OwnNoiseWindows of them, evenly
// spread), and their median, so that stars, nebulae and clipped cores, which
// fill less than half of a picture, do not count. 0 when the plane holds no
// window.
constexpr int64_t OwnNoiseWindows = 256;
float SmoothedNoiseOfPlane(std::span<const float> plane, int32_t w, int32_t h);

// Whether plane `q` of the cutout holds the plane's own pixels at the
// cutout's origin, up to a constant for all of them (the cutout levelled by
// its border's median), and at least one of them is valid.
bool CutoutOfPlane(const TStarCutout& cutout, int q, std::span<const float> plane, int32_t w, int32_t h);

// Per plane 1..3 of the cutout: SmoothedNoiseOfPlane of the same plane of
// image slot `slot` where the cutout was cut from that picture, else 0.
std::array<float, 4> PsfOwnNoise(const TStarCutout& cutout, int slot);

}  // namespace astrelon
