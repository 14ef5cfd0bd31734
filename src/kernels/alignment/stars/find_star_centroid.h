#pragma once
// The position of the brightest star in a rectangle: the star-profile analysis
// at its brightest place or, for undebayered colour-mosaic images, a profile
// search along three rows and three columns brought to a fraction of a pixel
// by a fit that no white balance of the sites moves (mosaic_star_fit.h),
// optionally refined by block matching against a point of another image. A rectangle more than 300 pixels
// wide (or any rectangle while the batch runs in disc mode) is measured as a
// bright disc.
#include <cstdint>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "kernels/alignment/star_noise_level.h"
#include "kernels/alignment/stars/box_star_choice.h"
#include "store/image_store.h"

namespace astrelon {

// Results of the last search: the position, a measure of the star's radius
// (1 to 5 pixels) that callers hand back as the next search's aperture,
// whether the peak of the box's object lay outside the box (its light rising
// outward from the box's border), and the flux of a box's star (0 when the
// box held none), which the second box of a pair matches.
extern TFloatPoint StarPosition;
extern int32_t StarAperture;
extern bool StarPeakOutsideBox;
extern double StarFlux;

// The stars the last star box's fit took off beside its star (their fitted
// centres), with the slot and the point measured: a star too close to the
// measured one to show a peak of its own is among them.
struct TFittedNeighbours {
  int Slot = 0;
  TFloatPoint Star;
  std::vector<TFloatPoint> Centres;
};
extern TFittedNeighbours StarNeighbours;

// What a box measures: a star (box_star_choice.h), or for a comet's box the
// object its brightest place belongs to (box_object.h).
enum class TBoxRule { Star, Comet };

struct TStarSearchOptions {
  bool BlockMatch = false;   // refine by block matching against RefPoint of OtherSlot (mosaic path)
  bool IsMosaic = false;     // the image is an undebayered colour mosaic
  int OtherSlot = 0;
  TFloatPoint RefPoint;
  TBoxRule Rule = TBoxRule::Star;
  // The second box of a pair: the star of the first box it must find again
  // (none, or a flux of 0: a single box).
  const TStarReference* Reference = nullptr;
};

// The star of a first box as a second box must find it again: `flux` (the
// flux the first box measured, or one that a series followed) and the places
// of the stars around its peak nearest `at`, read from the slot's plane with
// the noise level `threshold` (negative: estimated from the plane); when the
// last star box of the slot measured `at`, the stars its fit took off beside
// the star count among them.
TStarReference ReadStarReference(int slot, TFloatPoint at, float threshold, bool isMosaic, double flux);

// Sets the working rectangle to `rect` and finds the star there on the plane
// GetRgbCode gives. `threshold` is the noise level (negative: estimated from
// the plane; at least 0.01 of a level, StarLevelUnit); `aperture` the radius of the box whose mean finds
// the brightest place. Lowers MatchQuality by the star's height above the
// background in units of six times the noise.
//
// A rectangle of at least 3 x 3 pixels is a box. A star box measures its
// star (box_star_choice.h) at the star's own peak, with the nebula or
// galaxy it stands on and the stars beside it taken off its fit
// (deblended_star_fit.h); the quality is the star's, from its own peak. A
// box without a star to measure, or whose fit is drawn more than a pixel from
// the star's peak, gives its brightest place and the quality 0. A comet's box
// measures the object its brightest place belongs to (box_object.h). A
// smaller rectangle is a point that the star is searched around. On a colour
// mosaic the windows weigh the sites alike and the profiles level on the
// object's own top. Block matching may move the point beyond the box: it
// finds where the reference point lies, not a star.
void FindStarCentroid(int slot, TWorkRect rect, float threshold, int32_t aperture,
                      const TStarSearchOptions& options = {});

}  // namespace astrelon
