#include "registration/alignment_points.h"

#include <algorithm>

#include "core/batch_state.h"
#include "core/settings.h"
#include "registration/determine_shift.h"
#include "registration/disc_centre.h"
#include "registration/find_star_centroid.h"
#include "registration/match_quality.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"

namespace astrelon {

namespace {

const TImageWindowLink* WindowOf(int slot) {
  return ValidSlot(slot) && Store.HasWindow[size_t(slot)] ? Store.Window[size_t(slot)] : nullptr;
}

TFloatPoint RectCentre(const TWorkRect& r) { return {float((r.x1 + r.x2) * 0.5), float((r.y1 + r.y2) * 0.5)}; }
TFloatPoint RectCorner(const TWorkRect& r) { return {float(r.x1), float(r.y1)}; }

// Star search in the working rectangle; the found position and aperture.
TFloatPoint StarIn(int slot, float threshold, int32_t aperture, bool isMosaic, int refSlot, TFloatPoint refPoint) {
  FindStarCentroid(slot, WorkRect, threshold, aperture, {false, isMosaic, refSlot, refPoint});
  return StarPosition;
}

// Block matching of reference selection n against the second image's working
// rectangle. A disc displacement becomes a position: the reference
// selection's centre moved by it.
TFloatPoint MatchedPoint(int refSlot, int secondSlot, int n, double scale, bool isMosaic) {
  const TWorkRect search = WorkRect;
  SetWorkRectFromWindow(refSlot, n, false);
  const TFloatPoint refCentre = RectCentre(WorkRect);
  const TShiftResult found = DetermineShift(refSlot, secondSlot, n, scale, isMosaic, search);
  if (!found.DiscDisplacement) return found.Position;
  return {refCentre.X + found.Position.X, refCentre.Y + found.Position.Y};
}

}  // namespace

TAlignPoints GetAlignmentPoints(int refSlot, int secondSlot, bool isMosaic, double scale) {
  TAlignPoints pts;
  const TImageWindowLink* R = WindowOf(refSlot);
  const TImageWindowLink* S = WindowOf(secondSlot);
  if (!R || !S) return pts;
  const bool star = Settings.ShiftMode == 0;
  const bool discRun = BatchRunning && BatchDiscMode;
  const bool noSecondSelection = !R->SelectionVisible(2) && !S->SelectionVisible(2);
  float tR = -1.0f, tS = -1.0f;

  // Point 1 of the reference image.
  SetWorkRectFromWindow(refSlot, 1, true);
  TFloatPoint a1;
  if (R->MarkerVisible(1)) {
    a1 = RectCorner(WorkRect);
  } else if (R->SelectionVisible(1)) {
    if (noSecondSelection && (discRun || (star && !BatchRunning && WorkRect.x2 - WorkRect.x1 > 300))) {
      a1 = MeasureDiscCentre(refSlot);
    } else {
      a1 = RectCentre(WorkRect);
      if (star) {
        const double saved = MatchQuality;
        tR = EstimatePlaneNoise(refSlot, GetRgbCode(refSlot)) + 0.001f;
        a1 = StarIn(refSlot, tR, BatchStarApertures[0], isMosaic, refSlot, {});
        BatchStarApertures[0] = StarAperture;
        MatchQuality = saved;
      }
    }
  } else {
    return pts;
  }
  pts.A1x = a1.X;
  pts.A1y = a1.Y;
  pts.count = 1;

  // Point 1 of the second image.
  SetWorkRectFromWindow(secondSlot, 1, true);
  TFloatPoint b1;
  if (S->MarkerVisible(1)) {
    b1 = RectCorner(WorkRect);
  } else if (S->SelectionVisible(1)) {
    if ((noSecondSelection && discRun && star) || (star && !BatchRunning && WorkRect.x2 - WorkRect.x1 > 300)) {
      b1 = MeasureDiscCentre(secondSlot);
    } else if (!star) {
      b1 = MatchedPoint(refSlot, secondSlot, 1, scale, isMosaic);
    } else {
      tS = EstimatePlaneNoise(secondSlot, GetRgbCode(secondSlot)) + 0.001f;
      b1 = StarIn(secondSlot, tS, BatchStarApertures[0], isMosaic, refSlot, a1);
    }
  } else {
    pts.count = 0;
    return pts;
  }
  pts.B1x = b1.X;
  pts.B1y = b1.Y;

  // Point 2 of the reference image.
  TFloatPoint a2;
  if (R->MarkerVisible(2)) {
    SetWorkRectFromWindow(refSlot, 2, true);
    a2 = RectCorner(WorkRect);
  } else if (R->SelectionVisible(2)) {
    SetWorkRectFromWindow(refSlot, 2, true);
    a2 = RectCentre(WorkRect);
    if (star) {
      const double saved = MatchQuality;
      a2 = StarIn(refSlot, tR, BatchStarApertures[1], isMosaic, refSlot, {});
      BatchStarApertures[1] = StarAperture;
      MatchQuality = saved;
    }
  } else {
    return pts;
  }
  pts.A2x = a2.X;
  pts.A2y = a2.Y;
  pts.count = 2;

  // Point 2 of the second image.
  SetWorkRectFromWindow(secondSlot, 2, true);
  TFloatPoint b2;
  if (S->MarkerVisible(2)) {
    b2 = RectCorner(WorkRect);
  } else if (S->SelectionVisible(2)) {
    const double q1 = MatchQuality;
    if (!star)
      b2 = MatchedPoint(refSlot, secondSlot, 2, scale, isMosaic);
    else
      b2 = StarIn(secondSlot, tS, BatchStarApertures[1], isMosaic, refSlot, a2);
    const double q2 = MatchQuality;
    // Two stars measured: the weaker one counts most, the other a fifth.
    if (q1 < 90 && q2 < 90) MatchQuality = (0.2 * std::max(q1, q2) + std::min(q1, q2)) / 1.2;
  } else {
    pts.count = 1;
    return pts;
  }
  pts.B2x = b2.X;
  pts.B2y = b2.Y;
  return pts;
}

}  // namespace astrelon
