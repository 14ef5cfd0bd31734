#include "batch/run/batch_run_end.h"

#include <algorithm>
#include <utility>

#include "batch/align/comet_motion.h"
#include "batch/align/comet_reference.h"
#include "batch/exec/kept_step_files.h"
#include "batch/inputs/series_file_list.h"
#include "batch/inputs/shift_list_file.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_result_save.h"
#include "batch/run/batch_run_slots.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/run/batch_weighted_end.h"
#include "batch/steps/batch_captions.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/settings.h"
#include "registration/combination/batch_combination_inputs.h"
#include "registration/matching/batch_stack_alignment.h"
#include "registration/stacking/combine_image_stack.h"
#include "shell/windows/histogram_refresh.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

std::string ModeName(int32_t mode) {
  return BatchCombineNames[size_t(std::clamp(mode, 0, int32_t(BatchCombineNames.size()) - 1))];
}

void FullIcons(int slot) {
  if (SlotInUse(slot) && Store.Window[size_t(slot)]) Store.Window[size_t(slot)]->SetOperationIcons(false);
}

bool HasData(int slot) { return SlotInUse(slot) && Store.Image[size_t(slot)].PixelCount() > 0; }

// The listed files stacked into the target; false when the combination
// failed or was aborted. `leftOut` counts the listed names it did not take.
bool StackListedFiles(int target, int32_t& leftOut) {
  TBatchRunState& s = BatchRun;
  ComputeHistogram(target, false, true);
  SetAutoDisplayRange(target, false);
  if (s.WorkSlot != target && SlotInUse(s.WorkSlot) && !ViewPictureEnabled(s.WorkSlot)) CloseRunSlot(s.WorkSlot);
  TStackOptions options;
  options.TargetSlot = target;
  options.Count = int32_t(SeriesFileList.size());
  options.Method = TStackMethod(6 - s.CombineMode);
  options.IsFlat = false;
  options.ShowProgress = false;
  // Frames aligned on three or more marks are fitted from their listed pairs.
  InstallBatchStackAlignment();
  const int32_t combined = CombineImageStack(options);
  RemoveBatchStackAlignment();
  leftOut = SeriesFiles.LeftOut + std::max(0, options.Count - std::min(options.Count, MaxStackFrames));
  return combined >= 0;
}

// The target of a normal end: combined, named, written (FITS) and kept in the
// recent files; a run without an add step closes it.
void FinishTarget(int32_t& leftOut) {
  TBatchRunState& s = BatchRun;
  const int target = s.TargetSlot;
  if (!s.TargetFileName.empty()) Store.FileName[size_t(target)] = s.TargetFileName;
  if (!s.HasAddStep || !HasData(target)) {
    CloseRunSlot(target);
    return;
  }
  if (s.CombineMode > 2 && SeriesFileList.size() > 1) {
    if (!StackListedFiles(target, leftOut)) s.EndOfRun = true;
  } else {
    AddHistoryCard(target, CombinedImagesText(s.FilesDone, s.CombineMode), 0);
  }
  // A new target's name was free when the run began; a file that took it
  // meanwhile stays and the target gets the next free name.
  if (!s.EndOfRun) {
    const std::string written = WriteRunImage(target, s.TargetFileName, !s.NewTarget);
    if (!written.empty()) s.TargetFileName = written;
  }
  ViewRender(target);
}

// The run's shift list beside the start file, for later runs (the
// reference of a correlation run gets a quality just above the second's).
void WriteRunShiftList() {
  TBatchRunState& s = BatchRun;
  // A multipoint run keeps the number of marks the user set, above 2; its
  // list is of the multipoint kind (3), the only one that holds them.
  TShiftListFile list = RunShiftList(std::min(s.MarkCount.load(), 3));
  if (s.SavedShiftMode == 1 && list.Count() > 1) RaiseReferenceQuality(list);
  std::string error;
  if (VerschiebungslisteSpeichern(ShiftListFileName(s.StartFolder, s.MarkCount, list.Count()), list, error).empty())
    EngineUi().ShowMessage(error);
}

}  // namespace

std::string CombinedImagesText(int32_t count, int32_t combineMode) {
  return std::to_string(count) + " " + BatchCaption(TBatchCaption::Images) + ModeName(combineMode);
}

void EndBatchRun() {
  TBatchRunState& s = BatchRun;
  const bool aborted = s.EndOfRun;
  std::swap(Settings.ShiftMode, s.SavedShiftMode);
  s.CentroidMode = 0;
  ViewShowCheckButton(false);
  s.WeightedAdd = 0;
  std::vector<float>().swap(BatchCoverageWeights);
  BatchFrameWeight = 1;

  FullIcons(s.TargetSlot);
  FullIcons(s.WorkSlot);
  ViewHideMarks(s.TargetSlot);

  int32_t leftOut = 0;
  const bool bayer = FinishBayerTarget(aborted);
  // The comet computation stacks nothing: its target is closed below.
  if (SlotInUse(s.TargetSlot) && !bayer && !s.CometCompute) {
    if (s.AviInput) AddHistoryCard(s.TargetSlot, BatchSteps.Records[1].Values[0], 0);
    if (!aborted)
      FinishTarget(leftOut);
    else if (!s.HasAddStep)
      CloseRunSlot(s.TargetSlot);
  }
  FinishDoubleSizeTarget(s.EndOfRun);
  ReleaseCometReference();

  // A finished comet computation shows its motion on the batch window, and
  // the status window goes.
  if (!s.EndOfRun && !s.CometCompute) {
    StatusFunction(BatchCaption(TBatchCaption::RunFinished));
    if (s.CombineMode < 3)
      StatusCount(BatchCaption(TBatchCaption::NoMoreImages));
    else if (leftOut > 0)
      StatusCount(std::to_string(leftOut) + BatchCaption(TBatchCaption::FramesLeftOut));
    StatusFile(s.HasAddStep ? CombinedImagesText(s.FilesDone, s.CombineMode) : "");
  } else if (s.EndOfRun) {
    if (s.CombinedCount < 2) s.CombinedCount = s.FilesDone - 1;
    if (SlotInUse(s.TargetSlot)) AddHistoryCard(s.TargetSlot, CombinedImagesText(s.CombinedCount, s.CombineMode), 0);
    StatusFunction(BatchCaption(TBatchCaption::RunAborted));
    StatusCount("");
  }

  // A comet computation keeps neither image.
  if (s.CometCompute) {
    if (s.WorkSlot != s.TargetSlot) CloseRunSlot(s.WorkSlot);
    CloseRunSlot(s.TargetSlot);
    s.WorkSlot = s.TargetSlot = -1;
  }
  if (SlotInUse(s.TargetSlot)) {
    FullIcons(s.TargetSlot);
    ViewWritePictureNote(s.TargetSlot, "");
    ComputeHistogram(s.TargetSlot, false, true);
    SetAutoDisplayRange(s.TargetSlot, false);
    ViewRender(s.TargetSlot);
    RefreshHistogramWindow();
  }
  s.Running = 0;
  s.CometShiftX = s.CometShiftY = 0;
  BatchShiftGrid = TShiftGrid{};

  if (!aborted && s.WriteShiftList && s.MarkCount > 0 && !s.CometCompute) WriteRunShiftList();

  if (s.CometCompute && !aborted) {
    ApplyCometMotion();
    ViewShowCometValues();
  }

  CloseKeptStepFiles();
  ResetBatchEngineState();
  s.AviInput = 0;
  if (s.WorkSlot != s.TargetSlot && SlotInUse(s.WorkSlot) && !ViewPictureEnabled(s.WorkSlot)) CloseRunSlot(s.WorkSlot);
}

}  // namespace astrelon
