#include "batch/run/batch_run_state.h"

#include "core/batch_series.h"
#include "core/batch_state.h"
#include "registration/combination/batch_combination_inputs.h"

namespace astrelon {

TBatchRunState BatchRun;

TBatchRunState::TBatchRunState()
    : MarkCount(BatchMarkCount),
      Running(BatchRunning),
      Abort(BatchAbort),
      AviInput(BatchVideoInput),
      HasAddStep(BatchAddToTarget),
      CentroidMode(BatchDiscMode),
      WeightedAdd(BatchWeightedAdd) {
  StepSlot.fill(-1);
}

void ResetBatchRunState(TBatchRunState& s, const TBatchRunSetup& setup) {
  s.CurrentStep = 1;
  s.FilesDone = 0;
  s.FilesCounted = 0;
  s.ShiftListIndex = 0;
  if (!s.UseShiftList) s.ShiftListCount = 0;
  s.TargetSlot = -1;
  s.WorkSlot = -1;
  s.CombinedCount = 1;
  s.StarTolerance = 2.0f;
  s.StarToleranceAfterCheck = 2.5f;
  s.FirstImage = true;
  s.NewTarget = true;
  s.AskReportProblems = true;
  s.Running = 1;
  BatchFollowedStars = {};
  s.Abort = 0;
  s.EndOfRun = false;
  s.AviInput = 0;
  s.AviOpened = false;
  s.WeightedAdd = 0;
  s.ReportProblems = false;
  s.CometCompute = false;
  s.OverwriteAll = false;
  s.SkipImage = false;
  s.ExistingTarget = false;
  s.PromptAnswered = false;
  s.DirectMarks = false;
  s.WriteShiftList = false;
  s.DarkSizeReported = false;
  s.HasAddStep = setup.HasAddStep ? 1 : 0;
  s.HasFitStep = setup.HasFitStep;
  s.MarkCount = setup.MarkCount;
  s.BayerSpecial = setup.BayerSpecial;
  s.CentroidMode = setup.CentroidMode ? 1 : 0;
  s.ByTimestamp = setup.ByTimestamp;
  s.CheckStars = setup.MarkCount > 0;
}

}  // namespace astrelon
