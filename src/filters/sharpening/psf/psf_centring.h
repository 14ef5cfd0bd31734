#pragma once
// "PSF schärfen" converges on a picture whose reblur with the picked PSF gives
// the source back: when the reblur's weights centre off the PSF's middle pixel
// (a star picked anywhere within its pixel, a sky gradient across the cutout),
// the whole result moves by minus that offset, and the correction weighed with
// the steepened copy moves every step by its own. Each plane of both is
// therefore resampled so that the weights its pass uses centre on index 15,
// after the picked PSF's sky gradient is taken off.
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

// Plane `plane` of `from` into the same plane of `to`, resampled with the
// three-lobe windowed sinc so that the content at (15 + shift.X, 15 + shift.Y)
// comes to (15, 15): blank values are left out of the sums, a value whose
// valid weights sum to less than half of the kernel's is blank.
void ShiftCutoutPlane(const TStarCutout& from, TStarCutout& to, int plane, const TPsfOffset& shift);

// Each plane of the picked PSF less its sky's gradient (psf_star_check.h),
// then the weights of each plane of both centred: the reblur's (values above
// PsfTapThreshold) and the correction's (above 0.04),
// within FindPsfExtent's support of the picked PSF, each plane resampled from
// its values as given until its centre settles (up to six rounds). A plane
// whose weights centre within a thousandth of a pixel of index 15 stays as it
// is, and so does a gradient that changes the plane by less than a millionth
// of its largest magnitude. The value ranges are recomputed.
void CentrePsfPair(TStarCutout& picked, TStarCutout& steepened);

}  // namespace astrelon
