#include "batch/align/alignment_step.h"

#include "batch/align/comet_offset.h"
#include "batch/align/marked_alignment.h"
#include "batch/align/run_shift_list.h"
#include "batch/align/target_combination.h"
#include "batch/exec/step_run.h"
#include "batch/run/batch_run_state.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

void FullZoom(int slot) {
  if (!ValidSlot(slot)) return;
  int32_t& zoom = Store.Display[size_t(slot)].ZoomPercent;
  if (zoom < 17) zoom = 100;
}

}  // namespace

void RunAlignmentStep(const TStepRun& run) {
  TBatchRunState& s = BatchRun;
  FullZoom(s.WorkSlot);
  FullZoom(s.TargetSlot);
  UpdateCometOffset();
  if (s.MarkCount < 1) {
    if (run.Op == 10) {
      if (s.CombineMode < 3) CombineWithoutMarks();
      RecordRunFileName();
    }
    // A fit to the target without marks leaves the image as it is.
    s.FirstImage = false;
    return;
  }
  RunMarkedAlignment(run);
}

}  // namespace astrelon
