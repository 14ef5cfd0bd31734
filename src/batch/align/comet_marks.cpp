#include "batch/align/comet_marks.h"

#include <chrono>
#include <optional>
#include <thread>

#include "batch/align/alignment_state.h"
#include "batch/align/prompt_texts.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "common/engine_ui.h"
#include "kernels/alignment/alignment_points.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/alignment/match_quality.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

TBatchPoint Stored(TFloatPoint p) { return {p.X, p.Y}; }

// A comet in its box must stand six noise levels above the box's background
// (the quality of its measurement at least 1); a box without it measures 0.
constexpr double CometBoxQuality = 1.0;

// The comet's mark on the window: a direct mark or a selection.
bool CometMarked(int slot) {
  const TImageWindowLink* w = OpenWindowLink(slot);
  return w && (w->MarkerVisible(1) || w->SelectionVisible(1));
}

// The comet's position from its mark: a direct mark as placed, a box by the
// object its brightest place belongs to. nullopt when the box holds no comet
// to measure, or is ambiguous: its object's peak lies outside it (the light
// rises outward from its border), so that the comet may be beside it and what
// is inside something else.
std::optional<TFloatPoint> MeasureComet(int slot) {
  const TImageWindowLink* w = OpenWindowLink(slot);
  const bool boxed = w && !w->MarkerVisible(1) && w->SelectionVisible(1);
  const double saved = MatchQuality;
  MatchQuality = 99;
  StarPeakOutsideBox = false;
  const TAlignPoints p = GetAlignmentPoints(slot, slot, BatchRun.BayerSpecial, -1, TBoxRule::Comet);
  const bool measured = p.count >= 1 && !(boxed && (MatchQuality < CometBoxQuality || StarPeakOutsideBox));
  MatchQuality = saved;
  if (!measured) return std::nullopt;
  return TFloatPoint{p.A1x, p.A1y};
}

}  // namespace

void RestoreCometReference(int target, int work) {
  if (work != target) ViewHideMarks(work);
  ViewRestoreKeptMarks(target);
}

bool MarkComet(int slot, bool first) {
  TBatchRunState& s = BatchRun;
  if (first) {
    s.CometStarPointsA = {Stored(PointA1()), Stored(PointA2())};
    s.CometSeriesA = s.SeriesNumber;
    s.CometTimeA = s.CurrentTime;
    // The reference stars go back on the target for the second image.
    ViewKeepMarks(slot);
  } else {
    s.CometStarPointsA = {Stored(PointA1()), Stored(PointA2())};
    s.CometStarPointsB = {Stored(PointB1()), Stored(PointB2())};
    s.CometSeriesB = s.SeriesNumber;
    s.CometTimeB = s.CurrentTime;
  }
  // The star marks make way: the comet's box or mark is the window's first,
  // and "Ok, weiter" waits for it.
  ViewHideMarks(slot);
  // The prompt comes back until the comet's mark can be measured (a box by
  // its object, a direct mark as placed). A box without a comet to measure,
  // or with a brighter object's peak just outside it, is said so and
  // cleared, for a direct mark or a new box.
  for (;;) {
    s.PromptAnswered = false;
    ViewShowPrompt(CometPrompt());
    while (!s.PromptAnswered && !s.EndOfRun && !s.SkipImage) {
      ViewEnablePromptOk(CometMarked(slot));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      EngineUi().ProcessMessages();
      if (!SlotInUse(slot)) s.EndOfRun = true;
    }
    if (s.EndOfRun || s.SkipImage) return false;
    const std::optional<TFloatPoint> comet = MeasureComet(slot);
    if (!comet) {
      if (CometMarked(slot)) {
        EngineUi().ShowMessage(BatchCaption(TBatchCaption::CometNotInBox));
        ViewHideMarks(slot);
      }
      continue;
    }
    (first ? s.CometPositionA : s.CometPositionB) = {comet->X, comet->Y};
    break;
  }
  return true;
}

}  // namespace astrelon
