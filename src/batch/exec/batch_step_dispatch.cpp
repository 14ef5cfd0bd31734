#include "batch/exec/batch_step_dispatch.h"

#include "batch/align/alignment_step.h"
#include "batch/exec/step_run.h"
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "store/image_store.h"

namespace astrelon {

bool RunsBeforeStoreCheck(int32_t op) { return (op >= 1 && op <= 9) || (op >= 17 && op <= 23) || op == 26; }

void RunBatchStep(int32_t step) {
  if (step < 2 || step > BatchSteps.StepCount || size_t(step) >= BatchSteps.Records.size()) return;
  TStepRun run;
  run.Step = step;
  run.Op = BatchSteps.Ops[size_t(step)];
  run.Item = &BatchSteps.Records[size_t(step)];
  run.Work = BatchRun.WorkSlot;
  if (!SlotInUse(run.Work)) return;
  SetWorkRectToImage(run.Work);
  if (RunsBeforeStoreCheck(run.Op)) {
    run.Free = FindFreeSlot();
    RunPixelStep(run) || RunGeometryStep(run) || RunFilterStep(run) || RunFileStep(run);
    return;
  }
  int32_t& zoom = Store.Display[size_t(run.Work)].ZoomPercent;
  if (zoom < 17) zoom = 100;
  run.Free = FindFreeSlot();
  if (run.Free < 1) BatchRun.EndOfRun = true;
  if (run.Op == 10 || run.Op == 14) {
    RunAlignmentStep(run);
    return;
  }
  RunFileStep(run) || RunFilterStep(run) || RunColourStep(run) || RunFrequencyStep(run) || RunPixelStep(run);
}

}  // namespace astrelon
