#pragma once
// The position of the brightest star in a rectangle: the star-profile analysis
// at its brightest place or, for undebayered colour-mosaic images, a profile
// search along three rows and three columns brought to a fraction of a pixel
// by a fit that no white balance of the sites moves (mosaic_star_fit.h),
// optionally refined by block matching against a point of another image. A rectangle more than 300 pixels
// wide (or any rectangle while the batch runs in disc mode) is measured as a
// bright disc.
#include <cstdint>

#include "kernels/alignment/float_point.h"
#include "store/image_store.h"

namespace astrelon {

// Results of the last search: the position, a measure of the star's radius
// (1 to 5 pixels) that callers hand back as the next search's aperture, and
// whether the peak of the box's object lay outside the box (its light rising
// outward from the box's border).
extern TFloatPoint StarPosition;
extern int32_t StarAperture;
extern bool StarPeakOutsideBox;

struct TStarSearchOptions {
  bool BlockMatch = false;   // refine by block matching against RefPoint of OtherSlot (mosaic path)
  bool IsMosaic = false;     // the image is an undebayered colour mosaic
  int OtherSlot = 0;
  TFloatPoint RefPoint;
};

// Sets the working rectangle to `rect` and finds the star there on the plane
// GetRgbCode gives. `threshold` is the noise level (negative: estimated from
// the plane; at least 0.01); `aperture` the radius of the box whose mean finds
// the brightest place. Lowers MatchQuality by the star's height above the
// background in units of six times the noise.
//
// A rectangle of at least 3 x 3 pixels is a box (box_object.h): it measures
// the object its brightest place belongs to, uphill from there to the
// object's own peak, which may lie a pixel or a few beyond the box's edge (a
// star just outside a loosely drawn box, or one that moved since the last
// image); another object around, brighter or not, whose light does not make
// the box's brightest place is never taken. The quality is the object's, from
// its own peak; where no star can be fitted there, or the climb leaves the
// cutout, the position is the box's brightest place and the quality 0. A
// smaller rectangle is a point that the star is searched around. On a colour
// mosaic the climb weighs the sites alike and the profiles level on the
// object's own top. Block matching may move the point beyond the box: it
// finds where the reference point lies, not a star.
void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture,
                      const TStarSearchOptions& options = {});

}  // namespace astrelon
