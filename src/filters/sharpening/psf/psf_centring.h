#pragma once
// "PSF schärfen" converges on a picture whose reblur with the picked PSF gives
// the source back: when the reblur's weights centre off the PSF's middle pixel
// (a star picked anywhere within its pixel, a sky gradient across the cutout),
// the whole result moves by minus that offset, and the correction weighed with
// the steepened copy moves every step by its own. Each plane of both is
// therefore resampled so that the weights its pass uses centre on index 15,
// after the picked PSF's sky gradient is taken off: the weights of the picked
// star itself. A neighbour within the cutout would draw a centre of all its
// weights towards itself, and the whole result with it, give every star a
// ghost at its offset, and widen the flux balance so that it hands each
// star's light on to one side: its core is taken out of both PSFs.
#include <array>
#include <cstdint>

#include "shell/stars/star_cutout.h"
#include "store/image_store.h"

namespace astrelon {

// Offsets from index 15 (columns, rows).
struct TPsfOffset {
  double X = 0, Y = 0;
};

// The centre of the weights of one cutout plane: the mean offset of its valid
// values within `extent` whose magnitude exceeds `threshold`, weighted by the
// values (as the linear reblur and the correction weigh them). (0, 0) when
// they sum to 0 or less.
TPsfOffset PsfWeightCentre(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold);

// The centre of the picked star's weights in one cutout plane: as
// PsfWeightCentre, over the values within `extent` above `threshold` nearer to
// index 15 than any such value that the star's light does not reach. The
// star's light reaches from the largest value within 3 pixels of index 15
// (either way) through 4-neighbours, each at most `rise` above the one it is
// reached from: down a star's flanks every value, a neighbour's rising flank
// beyond the light between them not. A star alone has all the values; one
// with a neighbour a disc around index 15 as symmetric as the star, whose
// weights centre on it.
TPsfOffset PsfStarCentre(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise);

// The pixels of a cutout plane within `extent` that the star's light reaches,
// as PsfStarCentre reaches them (1; 0 elsewhere).
using TStarMask = std::array<uint8_t, StarCutoutSize * StarCutoutSize>;
TStarMask PsfStarPixels(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise);

// Sets the values within `extent` above `threshold` that the star's light
// does not reach (a neighbour's core) to 0.
void IsolatePsfStar(TStarCutout& psf, int plane, const TRectI& extent, float threshold, float rise);

// The square of the radius of that disc (infinite for a star alone).
double PsfStarReach(const TStarCutout& cutout, int plane, const TRectI& extent, float threshold, float rise);

// The rise a flank of the picked PSF's star may take on its way down: three
// times the noise of its frame.
constexpr double PsfStarRise = 3.0;

// Plane `plane` of `from` into the same plane of `to`, resampled with the
// three-lobe windowed sinc so that the content at (15 + shift.X, 15 + shift.Y)
// comes to (15, 15): blank values are left out of the sums, a value whose
// valid weights sum to less than half of the kernel's is blank.
void ShiftCutoutPlane(const TStarCutout& from, TStarCutout& to, int plane, const TPsfOffset& shift);

// Each plane of the picked PSF less its sky's gradient (psf_star_check.h),
// a neighbour's core taken out of each plane of both (IsolatePsfStar, with the
// thresholds and rises below), then the picked star's weights of each plane of both centred
// (PsfStarCentre): the reblur's (values above PsfTapThreshold, rising by at
// most three times the frame's noise) and the correction's (above 0.04,
// rising by at most a hundredth of its largest value), within FindPsfExtent's
// support of the picked PSF, each plane resampled from
// its values as given until its centre settles (up to six rounds). A plane
// whose weights centre within a thousandth of a pixel of index 15 stays as it
// is, and so does a gradient that changes the plane by less than a millionth
// of its largest magnitude. The value ranges are recomputed.
void CentrePsfPair(TStarCutout& picked, TStarCutout& steepened);

}  // namespace astrelon
