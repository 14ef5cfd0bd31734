#pragma once
// Stars that left their boxes: a dithered frame can move the sky further than
// a box reaches from where the last frame had its star, and the box then
// measures another star or the sky. Such points are told by a quality that
// says the box held no star, a star of another flux than the one followed, or two
// marks whose distance is not the reference's; the sky's shift at each mark,
// found by block matching a large block around the reference point, then
// tells whether the point is right and, if not, where its star went.
#include <array>
#include <optional>

#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/float_point.h"

namespace astrelon {

// Half the side of the block matched around a reference point; the search
// reaches about as far from where the point lies in the reference.
constexpr int LostStarBlockHalf = 40;
// How far a measured point may lie from where block matching puts its star.
constexpr double LostStarAgreement = 2.5;
// A box's quality below this: it measured no star (or one drawn off its peak).
constexpr double LostStarQuality = 1.0;

// Whether two-mark points keep the reference's distance between the marks:
// within 0.5 % and 1.5 pixels (the frames of one night share their scale).
bool PairDistanceKept(const TAlignPoints& p);

// Whether the measured points look wrong: quality below LostStarQuality, a
// mark's star flux off the followed one (flux before and after the
// measurement; 0: none) by more than a factor 1.6, or two marks whose distance
// changed.
bool PointsDoubtful(const TAlignPoints& p, int marks, double quality, const std::array<double, 2>& followedBefore,
                    const std::array<double, 2>& followedAfter);

// Where reference point `a` of `target` lies in `work`: the block of
// 2 LostStarBlockHalf + 1 pixels around it (plane 2 of colour images) placed
// at every whole shift up to LostStarBlockHalf, both smoothed by 3 x 3 means
// and taken above their sky; the block's star pixels (3 noise levels above its
// sky) are compared, each squared difference capped at five times the noise
// (a hot pixel or hit weighs no more than a pixel of the star, a trail or
// patch beside the stars nothing), the smallest mean refined by parabolas.
// None when the block has no stars, the best placement lies at the search's
// edge or its cost is not below 3/4 of the typical placement's.
std::optional<TFloatPoint> SkyPosition(int target, int work, TFloatPoint a);

}  // namespace astrelon
