#pragma once
// Which star a box measures. Its own stars come first (a star whose peak
// pixel is one of the box's pixels): the brightest of them, whatever light
// reaches the box from outside. Only a box without a star of its own takes a
// star just beyond its edge: the one its brightest place (or, where that is
// sky, its brightest border place) climbs to, at most a few pixels out.
//
// The second box of a pair (the second image's box against the first's, a
// frame's box against the star followed in the frame before, a mark against
// its partner) looks among its own stars and those whose peak lies at most a
// few pixels beyond its edge. The stars around the first box's star decide
// first: the one candidate on which more of them stand at their places than
// on any other; but a star a little further beyond the edge on which still
// more of them stand is the first box's star, which the box does not hold: no
// star. Else the box's own star of the largest flux, unless that is
// below a third of the first star's and a star beyond the edge has a flux
// within a factor of two of it; without a star of its own, such a star beyond
// the edge, else what a single box would take. A box that holds a star never
// says it has none because of the star's flux: fluxes scatter from image to
// image, and a thinner sky moves them all.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "kernels/alignment/float_point.h"
#include "kernels/alignment/stars/box_stars.h"

namespace astrelon {

// How far beyond a box's edge its star may lie.
constexpr int32_t BeyondEdge = 5;

// How far the stars around the first box's star are taken, and how near a
// star of the second image must come to where one of them is to stand there.
constexpr int32_t PatternReach = 30;
constexpr double PatternMatch = 2.5;

// The star a second box must find again, read once from the first image: its
// flux, and the places of the stars around it relative to its peak.
struct TStarReference {
  double Flux = 0;
  std::vector<TFloatPoint> Pattern;
};

// The places, relative to its peak, of the stars within PatternReach of the
// star whose peak is nearest `at` (at most two pixels away) in `field`
// (which covers ReferenceFieldArea(at)), and of the `fitted` stars beside it
// where the field shows none; empty without such a star.
std::vector<TFloatPoint> StarPattern(const TStarField& field, TFloatPoint at, std::span<const TFloatPoint> fitted);
TWorkRect ReferenceFieldArea(TFloatPoint at);

// The box's star in `field` (which covers BoxFieldArea). (bx, by) is the
// box's brightest place, `background` its level that counts as sky, `noise`
// the plane's noise level; nullopt: the box holds no star to measure.
std::optional<TStarCandidate> ChooseBoxStar(const TStarField& field, const TWorkRect& box, int32_t bx, int32_t by,
                             double background, double noise, const TStarReference* reference);

// The area a box's field covers: the box grown by the reach beyond its edge,
// the rings around a star there and, for a pair with a pattern, its reach.
TWorkRect BoxFieldArea(const TWorkRect& box, bool pattern);

}  // namespace astrelon
