#pragma once
// Which star a box measures. Its own stars come first (a star whose peak
// pixel is one of the box's pixels): the brightest of them, whatever light
// reaches the box from outside. Only a box without a star of its own takes a
// star just beyond its edge: the one its brightest place (or, where that is
// sky, its brightest border place) climbs to, at most a few pixels out.
//
// The second box of a pair (the second image's box against the first's, a
// frame's box against the reference frame's, a mark against its partner)
// takes, among its own stars and the stars reaching in from just beyond its
// edge, the one whose flux matches the reference star's within a factor of
// two, so that both boxes hold the same star whatever the seeing; of several,
// the one with the reference star's neighbours around it, then the closest
// flux. None matches: no star.
#include <cstdint>
#include <optional>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "kernels/alignment/stars/box_stars.h"

namespace astrelon {

// How far beyond a box's edge its star may lie.
constexpr int32_t BeyondEdge = 5;

// The star a second box must match: its flux, and the places of the stars
// around it relative to it (empty when the reference image was not read).
struct TStarReference {
  double Flux = 0;
  std::vector<TFloatPoint> Around;
};

// The stars around the reference star nearest `at` (at most two pixels from
// its peak) in the reference image's field, relative to it.
std::vector<TFloatPoint> StarsAround(const TStarField& field, TFloatPoint at);

// The box's star in `field` (which covers BoxFieldArea). (bx, by) is the
// box's brightest place, `background` its level that counts as sky, `noise`
// the plane's noise level; nullopt: the box holds no star to measure.
std::optional<TStarCandidate> ChooseBoxStar(const TStarField& field, const TWorkRect& box, int32_t bx, int32_t by,
                             double background, double noise, const TStarReference* reference);

// The area a box's field covers: the box grown by the reach beyond its edge,
// the rings around a star there and, for a pair, its neighbours' reach.
TWorkRect BoxFieldArea(const TWorkRect& box, bool pair);

}  // namespace astrelon
