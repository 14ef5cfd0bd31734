#include "batch/run/batch_engine.h"

#include <new>
#include <stdexcept>

#include "batch/align/alignment_state.h"
#include "batch/exec/batch_step_dispatch.h"
#include "batch/exec/step_values.h"
#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_image_finish.h"
#include "batch/run/batch_input_load.h"
#include "batch/run/batch_run_end.h"
#include "batch/run/batch_run_slots.h"
#include "batch/run/batch_run_start.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/run/batch_tick.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/steps/step_history_cards.h"
#include "common/engine_ui.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/stacking/master_frame_state.h"
#include "shell/windows/histogram_refresh.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

TBatchOp OperationOf(int32_t step) {
  if (step < 1 || step > BatchSteps.StepCount) return -1;
  return BatchSteps.Ops[size_t(step)];
}

// Before the add step (or a fit step) the target gets its name, and the
// target (without marks) or the work image (with marks; a listed file only
// when it is the target) is shown with its histogram and display range.
void ShowBeforeAlignment() {
  TBatchRunState& s = BatchRun;
  if (SlotInUse(s.TargetSlot) && !s.TargetFileName.empty()) {
    Store.FileName[size_t(s.TargetSlot)] = s.TargetFileName;
    ViewShowCaption(s.TargetSlot);
  }
  int shown = -1;
  if (s.MarkCount < 1)
    shown = s.TargetSlot;
  else if (SlotInUse(s.WorkSlot) && (!s.InShiftList || s.WorkSlot == s.TargetSlot))
    shown = s.WorkSlot;
  if (!SlotInUse(shown)) return;
  ComputeHistogram(shown, false, true);
  SetDisplayColorType(shown);
  SetAutoDisplayRange(shown, false);
  const bool created = !Store.HasWindow[size_t(shown)];
  ViewShowWindow(shown);
  if (created && shown == s.TargetSlot && Store.Window[size_t(shown)])
    Store.Window[size_t(shown)]->SetOperationIcons(true);
  ViewRender(shown);
  RefreshHistogramWindow();
}

// The first image of a fit-to-target batch is its reference: the target keeps
// it as loaded ("Referenzbild") and the steps go on with a copy.
void SplitReferenceImage() {
  TBatchRunState& s = BatchRun;
  const int copy = FindFreeSlot();
  if (copy < 1) {
    s.CurrentStep = BatchSteps.StepCount + 1;
    return;
  }
  CopyImageSlot(s.TargetSlot, copy);
  Store.FileName[size_t(copy)] = Store.FileName[size_t(s.TargetSlot)];
  Store.FileName[size_t(s.TargetSlot)] = BatchCaption(TBatchCaption::ReferenceImage);
  ViewShowCaption(s.TargetSlot);
  s.WorkSlot = copy;
  BatchEngine.LoadedWork = copy;
  ViewShowWindow(copy);
}

// Finishes the image; ends the run when no input follows.
bool FinishAndGoOn() {
  if (FinishImage()) return true;
  EndBatchRun();
  return false;
}

bool Tick() {
  TBatchRunState& s = BatchRun;
  CheckRunSlots();
  const int32_t step = s.CurrentStep;
  const TBatchOp op = OperationOf(step);
  StatusFunction(TranslatedOperationName(op));
  PumpAndCheck();
  if (s.FilesDone < 1) s.CheckStars = true;
  if (s.EndOfRun || s.CurrentStep != step || step > BatchSteps.StepCount) return FinishAndGoOn();

  if (step == 1) {
    LoadNextInput();
  } else {
    PumpAndCheck();
    if (!s.EndOfRun && !s.SkipImage && s.CurrentStep == step) {
      {
        const TRunSlotGuard guard;
        BatchEngine.LastStep = step;
        RunBatchStep(step);
      }
      CheckRunSlots();
      if (!s.EndOfRun && !s.SkipImage && SlotInUse(s.WorkSlot)) AddStepHistoryCards(s.WorkSlot, step);
    }
  }
  ++s.CurrentStep;
  if (!s.EndOfRun && !s.SkipImage &&
      ((s.CurrentStep == BatchSteps.StepCount && s.HasAddStep) || OperationOf(s.CurrentStep) == 14))
    ShowBeforeAlignment();
  if (s.FilesDone == 0 && op == 14 && s.WorkSlot == s.TargetSlot && SlotInUse(s.TargetSlot) && !s.EndOfRun &&
      !s.SkipImage)
    SplitReferenceImage();
  if (s.CurrentStep <= BatchSteps.StepCount && !s.EndOfRun) return true;
  return FinishAndGoOn();
}

}  // namespace

void BeginBatchRun() {
  TBatchRunState& s = BatchRun;
  ResetBatchEngineState();
  s.StepSlot.fill(-1);
  CcdTemperatureSum = 0;
  CcdTemperatureCount = 0;
  if (!s.UseShiftList) ClearRunFiles();
  SeriesFiles.LeftOut = 0;
  if (s.MarkCount < 1) ResetPointsWithoutMarks();
  BatchAddedCount = 0;
  std::vector<float>().swap(BatchCoverageWeights);
  // An existing target loaded by the start belongs to the run; the first
  // input is then added to it like every other (only the reference of a
  // fit-to-target batch stays the first image).
  if (SlotInUse(s.TargetSlot)) {
    BatchEngine.LoadedTarget = s.TargetSlot;
    if (s.WorkSlot == s.TargetSlot)
      BatchEngine.LoadedWork = s.WorkSlot;
    else
      s.FirstImage = false;
  }
}

bool BatchEngineTick() {
  if (!BatchRun.Running) {
    BatchTextSchreiben();
    return false;
  }
  std::string error;
  try {
    return Tick();
  } catch (const TBatchStepError& e) {
    error = e.what();
  } catch (const std::bad_alloc&) {
    error = BatchCaption(TBatchCaption::Error) + "Nicht genug Speicher";
  } catch (const std::exception& e) {
    error = BatchCaption(TBatchCaption::Error) + e.what();
  }
  EngineUi().ShowMessage(error);
  return false;
}

void InstallBatchEngine() {
  BatchTick = BatchEngineTick;
  BatchInputHooks.BuildInputList = [] {
    std::string& start = BatchSteps.Records[1].Values[0];
    if (!start.empty() || BatchWindow.DropList.empty()) {
      BuildInputFileList(start, BatchWindow.DropList);
      return;
    }
    // Without a start file the first list entry is the first input.
    std::string first = BatchWindow.DropList.front();
    BuildInputFileList(first, BatchWindow.DropList);
  };
  BatchInputHooks.BuildFolderList = [] {
    BuildAllFilesList(BatchSteps.Records[1].Values[0], BatchRun.TargetFolder + BatchRun.TargetName);
  };
}

}  // namespace astrelon
