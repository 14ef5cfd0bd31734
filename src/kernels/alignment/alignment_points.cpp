#include "kernels/alignment/alignment_points.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "common/engine_ui.h"
#include "common/pascal_format.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "kernels/alignment/determine_shift.h"
#include "kernels/alignment/disc_centre.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/match_quality.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

const TImageWindowLink* WindowOf(int slot) {
  return ValidSlot(slot) && Store.HasWindow[size_t(slot)] ? Store.Window[size_t(slot)] : nullptr;
}

TFloatPoint RectCentre(const TWorkRect& r) { return {float((r.x1 + r.x2) * 0.5), float((r.y1 + r.y2) * 0.5)}; }
TFloatPoint RectCorner(const TWorkRect& r) { return {float(r.x1), float(r.y1)}; }


// Star search in the working rectangle; the found position and aperture.
// `reference`: the reference star that the box must find again (none: any).
TFloatPoint StarIn(int slot, float threshold, int32_t aperture, bool isMosaic, int refSlot, TFloatPoint refPoint,
                   const TStarReference* reference, TBoxRule rule) {
  FindStarCentroid(slot, WorkRect, threshold, aperture,
                   {.BlockMatch = false, .IsMosaic = isMosaic, .OtherSlot = refSlot, .RefPoint = refPoint,
                    .Rule = rule, .Reference = rule == TBoxRule::Star ? reference : nullptr});
  return StarPosition;
}

// The reference star at `at` of the reference image as the second image's box
// must find it again, read once: `flux` (0: none to find).
TStarReference PairReference(int refSlot, TFloatPoint at, float threshold, bool isMosaic, double flux, TBoxRule rule) {
  if (rule != TBoxRule::Star || !(flux > 0)) return {};
  return ReadStarReference(refSlot, at, threshold, isMosaic, flux);
}

// The flux the second image's box of point `point` matches: the reference
// star's, or in a running batch the star's that the box followed in the last
// frame while the reference point stays (the batch's reference image holds a
// sum of frames). A reference point new to the run (its first image, a star
// marked anew) is not matched: the star measured there is followed from then on.
double PairFlux(int point, double reference, TFloatPoint at) {
  if (!BatchRunning) return reference;
  const TFollowedStar& followed = BatchFollowedStars[size_t(point)];
  const bool same = std::hypot(double(at.X) - followed.X, double(at.Y) - followed.Y) <= 2.0;
  return followed.Flux > 0 && same ? followed.Flux : 0.0;
}

std::array<int32_t, 4> BoxOf(const TWorkRect& r) { return {r.x1, r.y1, r.x2, r.y2}; }

void FollowStar(int point, TFloatPoint at, const TWorkRect& referenceBox) {
  if (BatchRunning && StarFlux > 0) BatchFollowedStars[size_t(point)] = {at.X, at.Y, StarFlux, BoxOf(referenceBox)};
}

// Point n of a window: the position of its mark n, its selection n measured
// by `measure` (with the selection as the working rectangle), or none.
template <class F>
std::optional<TFloatPoint> WindowPoint(const TImageWindowLink& window, int slot, int n, F measure) {
  SetWorkRectFromWindow(slot, n, true);
  if (window.MarkerVisible(n)) return RectCorner(WorkRect);
  if (window.SelectionVisible(n)) return measure();
  return std::nullopt;
}

// A star of the reference image (point 1 or 2): its aperture is remembered
// for the next search; the reference's quality does not count, but for
// whether the box held a star (`noStar`).
TFloatPoint ReferenceStar(int refSlot, float threshold, int point, bool isMosaic, TBoxRule rule, double& flux,
                          bool& noStar) {
  const double saved = MatchQuality;
  MatchQuality = 99.0;
  const TWorkRect box = WorkRect;
  const TFloatPoint p =
      StarIn(refSlot, threshold, BatchStarApertures[size_t(point)], isMosaic, refSlot, {}, nullptr, rule);
  BatchStarApertures[size_t(point)] = StarAperture;
  flux = StarFlux;
  const bool found = MatchQuality >= 1;
  MatchQuality = saved;
  // A running batch places every frame's star on the reference point, so
  // the star of the sum stays there: a box unchanged since the last frame
  // keeps the point it followed. Measured again, a track or column that a
  // frame brought into the sum beside the star, or a frame placed wrongly,
  // would move it and every later frame with it.
  const TFollowedStar& followed = BatchFollowedStars[size_t(point)];
  if (BatchRunning && rule == TBoxRule::Star && followed.Flux > 0 && followed.Box == BoxOf(box))
    return {followed.X, followed.Y};
  noStar = noStar || (rule == TBoxRule::Star && !found);
  return p;
}

// Block matching of reference selection n against the second image's working
// rectangle. A disc displacement becomes a position: the reference
// selection's centre moved by it.
TFloatPoint MatchedPoint(int refSlot, int secondSlot, int n, double scale, bool isMosaic, bool& atEdge) {
  const TWorkRect search = WorkRect;
  SetWorkRectFromWindow(refSlot, n, false);
  const TFloatPoint refCentre = RectCentre(WorkRect);
  const TShiftResult found = DetermineShift(refSlot, secondSlot, n, scale, isMosaic, search);
  atEdge = atEdge || found.AtSearchEdge;
  if (!found.DiscDisplacement) return found.Position;
  return {refCentre.X + found.Position.X, refCentre.Y + found.Position.Y};
}

// Runs a measurement of the second image and shows the quality it computed (the
// running minimum MatchQuality is lowered as before).
template <class F>
TFloatPoint Measured(F measure) {
  const double before = MatchQuality;
  MatchQuality = 99.0;
  const TFloatPoint p = measure();
  const double own = MatchQuality;
  MatchQuality = std::min(before, own);
  EngineUi().ShowStatus(MatchQualityText(own));
  return p;
}

// Outside the batch a shift that could not be measured is put to the user;
// true to go on.
bool GoOnWithoutMeasuredShift(const char* text) {
  if (BatchRunning) return true;
  return EngineUi().AskYesNoCancel(text, false) == TDialogAnswer::Yes;
}

}  // namespace

std::string MatchQualityText(double quality) {
  return "Übereinstimmungsqualität: " + FloatToStrF(quality, TFloatFormat::Fixed, 15, 2);
}

TAlignPoints GetAlignmentPoints(int refSlot, int secondSlot, bool isMosaic, double scale, TBoxRule rule) {
  TAlignPoints pts;
  const TImageWindowLink* R = WindowOf(refSlot);
  const TImageWindowLink* S = WindowOf(secondSlot);
  if (!R || !S) return pts;
  const bool star = Settings.ShiftMode == 0;
  const bool discRun = BatchRunning && BatchDiscMode;
  const bool noSecondSelection = !R->SelectionVisible(2) && !S->SelectionVisible(2);
  auto wide = [] { return WorkRect.x2 - WorkRect.x1 > 300; };
  float tR = -1.0f, tS = -1.0f;
  std::array<TWorkRect, 2> refBox{};
  std::array<double, 2> refFlux{};
  bool atEdge = false, noStar = false;
  const auto stopped = [&pts, &atEdge, &noStar] {
    const bool edge = std::exchange(atEdge, false), none = std::exchange(noStar, false);
    if ((!edge || GoOnWithoutMeasuredShift(ShiftNotMeasuredText)) && (!none || GoOnWithoutMeasuredShift(NoStarText)))
      return false;
    pts.count = 0;
    pts.Stopped = true;
    return true;
  };

  const std::optional<TFloatPoint> a1 = WindowPoint(*R, refSlot, 1, [&] {
    if (noSecondSelection && (discRun || (star && !BatchRunning && wide()))) return MeasureDiscCentre(refSlot);
    if (!star) return RectCentre(WorkRect);
    tR = StarSearchThreshold(refSlot, isMosaic);
    refBox[0] = WorkRect;
    return ReferenceStar(refSlot, tR, 0, isMosaic, rule, refFlux[0], noStar);
  });
  if (!a1) return pts;
  pts.A1x = a1->X;
  pts.A1y = a1->Y;
  pts.count = 1;

  const std::optional<TFloatPoint> b1 = WindowPoint(*S, secondSlot, 1, [&] {
    return Measured([&] {
      if ((noSecondSelection && discRun && star) || (star && !BatchRunning && wide()))
        return MeasureDiscCentre(secondSlot);
      if (!star) return MatchedPoint(refSlot, secondSlot, 1, scale, isMosaic, atEdge);
      tS = StarSearchThreshold(secondSlot, isMosaic);
      const TStarReference reference = PairReference(refSlot, *a1, tR, isMosaic, PairFlux(0, refFlux[0], *a1), rule);
      const TFloatPoint b = StarIn(secondSlot, tS, BatchStarApertures[0], isMosaic, refSlot, *a1, &reference, rule);
      noStar = noStar || (rule == TBoxRule::Star && MatchQuality < 1);
      FollowStar(0, *a1, refBox[0]);
      return b;
    });
  });
  if (!b1) {
    pts.count = 0;
    return pts;
  }
  if (stopped()) return pts;
  pts.B1x = b1->X;
  pts.B1y = b1->Y;

  const std::optional<TFloatPoint> a2 = WindowPoint(*R, refSlot, 2, [&] {
    refBox[1] = WorkRect;
    return star ? ReferenceStar(refSlot, tR, 1, isMosaic, rule, refFlux[1], noStar) : RectCentre(WorkRect);
  });
  if (!a2) return pts;
  pts.A2x = a2->X;
  pts.A2y = a2->Y;
  pts.count = 2;

  const std::optional<TFloatPoint> b2 = WindowPoint(*S, secondSlot, 2, [&] {
    const double q1 = MatchQuality;
    const TFloatPoint p = Measured([&] {
      if (!star) return MatchedPoint(refSlot, secondSlot, 2, scale, isMosaic, atEdge);
      const TStarReference reference = PairReference(refSlot, *a2, tR, isMosaic, PairFlux(1, refFlux[1], *a2), rule);
      const TFloatPoint b = StarIn(secondSlot, tS, BatchStarApertures[1], isMosaic, refSlot, *a2, &reference, rule);
      noStar = noStar || (rule == TBoxRule::Star && MatchQuality < 1);
      FollowStar(1, *a2, refBox[1]);
      return b;
    });
    const double q2 = MatchQuality;
    // Two measured points: the weaker one counts most, the other a fifth.
    if (q1 < 90 && q2 < 90) MatchQuality = (0.2 * std::max(q1, q2) + std::min(q1, q2)) / 1.2;
    return p;
  });
  if (!b2) {
    pts.count = 1;
    return pts;
  }
  if (stopped()) return pts;
  pts.B2x = b2->X;
  pts.B2y = b2->Y;
  return pts;
}

}  // namespace astrelon
