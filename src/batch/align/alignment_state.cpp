#include "batch/align/alignment_state.h"

namespace astrelon {

TAlignPoints BatchPoints;

void MoveReferencePoints(float dx, float dy) {
  BatchPoints.A1x += dx;
  BatchPoints.A1y += dy;
  BatchPoints.A2x += dx;
  BatchPoints.A2y += dy;
}

void ResetPointsWithoutMarks() {
  BatchPoints.A1x = BatchPoints.A1y = BatchPoints.B1x = BatchPoints.B1y = 0;
  BatchPoints.A2x = BatchPoints.A2y = BatchPoints.B2x = BatchPoints.B2y = 1;
  BatchPoints.count = 1;
}

}  // namespace astrelon
