#include "batch/align/comet_marks.h"

#include <chrono>
#include <thread>

#include "batch/align/alignment_state.h"
#include "batch/align/prompt_texts.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "common/engine_ui.h"
#include "kernels/alignment/alignment_points.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

TBatchPoint Stored(TFloatPoint p) { return {p.X, p.Y}; }

// The comet's mark on the window: a direct mark or a selection.
bool CometMarked(int slot) {
  if (!SlotInUse(slot) || !Store.HasWindow[size_t(slot)] || !Store.Window[size_t(slot)]) return false;
  const TImageWindowLink& w = *Store.Window[size_t(slot)];
  return w.MarkerVisible(1) || w.SelectionVisible(1);
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
  // The prompt comes back until the comet's mark can be measured (like a
  // star in its selection; a direct mark as placed).
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
    const TAlignPoints p = GetAlignmentPoints(slot, slot, s.BayerSpecial, -1);
    if (p.count < 1) continue;
    (first ? s.CometPositionA : s.CometPositionB) = {p.A1x, p.A1y};
    break;
  }
  return true;
}

}  // namespace astrelon
