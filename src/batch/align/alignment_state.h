#pragma once
// The alignment points of the batch's current image: A1, A2 in the target,
// B1, B2 in the work image, and their count (the run's marks).
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/float_point.h"

namespace astrelon {

extern TAlignPoints BatchPoints;

inline TFloatPoint PointA1() { return {BatchPoints.A1x, BatchPoints.A1y}; }
inline TFloatPoint PointA2() { return {BatchPoints.A2x, BatchPoints.A2y}; }
inline TFloatPoint PointB1() { return {BatchPoints.B1x, BatchPoints.B1y}; }
inline TFloatPoint PointB2() { return {BatchPoints.B2x, BatchPoints.B2y}; }

// Moves A1 and A2 by (dx, dy).
void MoveReferencePoints(float dx, float dy);
// A run without marks: A1 = B1 = (0, 0), A2 = B2 = (1, 1), one pair.
void ResetPointsWithoutMarks();

}  // namespace astrelon
