#pragma once
// The state of a batch run that lasts from one engine tick to the next, and the
// batch window's settings that describe the run (comet motion, input list,
// combination mode, Bayer-special file). One instance, `BatchRun`. Flags that
// lower layers read keep their own storage there and are reached here by
// reference: Running (BatchRunning), Abort (BatchAbort), MarkCount
// (BatchMarkCount), CentroidMode (BatchDiscMode), HasAddStep
// (BatchAddToTarget), AviInput (BatchVideoInput), WeightedAdd (BatchWeightedAdd).
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

struct TBatchPoint {
  float x = 0.0f, y = 0.0f;
};

struct TBatchRunState {
  TBatchRunState();
  TBatchRunState(const TBatchRunState&) = delete;
  TBatchRunState& operator=(const TBatchRunState&) = delete;

  // Counters and slots.
  int32_t CurrentStep = 1;   // the step the next tick runs; 1 = load the next input
  int32_t FilesDone = 0;     // images finished in this run
  int32_t FilesCounted = 0;  // inputs taken (skipped ones and collected names too)
  std::atomic<int32_t>& MarkCount;  // 0 none, 1 shift, 2 shift and rotation, 3 multipoint
  int32_t SavedShiftMode = 0;
  int32_t TargetSlot = -1;
  int32_t WorkSlot = -1;
  int32_t CombinedCount = 1;
  int32_t ShiftListIndex = 0;
  int32_t ShiftListCount = 0;
  int32_t CombineMode = 0;  // 0 Add, 1 Min, 2 Max, 3 Median, 4 MittelMed, 5 Sigma
  int32_t SeriesNumber = 0;
  int32_t TargetSeriesNumber = 0;
  int32_t CometSeriesA = 0, CometSeriesB = 0;
  double CometTimeA = 0.0, CometTimeB = 0.0;
  TBatchPoint CometPositionA, CometPositionB;
  std::array<TBatchPoint, 2> CometStarPointsA{}, CometStarPointsB{};
  float CometShiftX = 0.0f, CometShiftY = 0.0f;
  float StarTolerance = 2.0f;
  float StarToleranceAfterCheck = 2.5f;
  float QualitySum = 0.0f, QualitySquareSum = 0.0f, QualityCount = 0.0f;
  // The computed comet motion (kept for the batch file as "VDiffBerechnet").
  double CometPerFrameX = 0.0, CometPerFrameY = 0.0;
  double CometPerMinuteX = 0.0, CometPerMinuteY = 0.0;
  // The comet motion the run applies: the page "Normal/Komet"'s X and Y, per
  // series image or, by time stamp, per minute; 0 on the other pages.
  double CometRunX = 0.0, CometRunY = 0.0;
  double TargetTimeStart = 0.0, CurrentTime = 0.0;
  // Per step 1..256 (entry 0 unused): the slot that keeps the dark or flat of
  // operations 11 and 12 loaded; -1 = failed or loaded each time.
  std::array<int32_t, MaxBatchSteps + 1> StepSlot;

  // Names; folders end in "/".
  std::string InputFileName;
  std::string TargetFileName;
  std::string TargetName;
  std::string TargetExt;
  std::string TargetFolder;
  std::string StartFolder;
  std::string MosaicFileName = "*.qcm";

  // Flags.
  std::atomic<uint8_t>& Running;
  std::atomic<uint8_t>& Abort;  // asks the run (and long loops of its steps) to stop
  bool EndOfRun = false;
  std::atomic<uint8_t>& AviInput;
  bool AviOpened = false;
  std::atomic<uint8_t>& HasAddStep;
  bool HasFitStep = false;
  bool FirstImage = false;
  bool CheckStars = false;
  bool PromptAnswered = false;
  bool SkipImage = false;
  bool AskReportProblems = false;
  bool ReportProblems = false;
  std::atomic<uint8_t>& CentroidMode;
  std::atomic<uint8_t>& WeightedAdd;
  bool ExistingTarget = false;
  bool OverwriteAll = false;
  bool UseShiftList = false;
  bool InShiftList = false;
  bool ReferenceDropped = false;
  bool WriteShiftList = false;
  bool BayerSpecial = false;
  bool CometCompute = false;
  bool ByTimestamp = false;
  bool InputList = false;
  bool CometValuesSet = false;
  bool NewTarget = false;
  bool DirectMarks = false;
  bool DarkSizeReported = false;  // a dark of another size was reported in this run
};

extern TBatchRunState BatchRun;

// What the run preparation takes from the steps and the batch window's pages.
struct TBatchRunSetup {
  bool HasAddStep = false;
  bool HasFitStep = false;
  int32_t MarkCount = 0;
  bool BayerSpecial = false;
  bool CentroidMode = false;  // planet page with edge detection
  bool ByTimestamp = false;
};

// Resets the run state for a new run: step 1, counters 0 (the shift-list count
// only when no shift list is used), no target or work slot, one combined image,
// star tolerances 2.0 and 2.5, the first image and a new target ahead, the
// report questions still to ask, running and not aborted; the marks of the first image checked
// when the run aligns; every other run flag off; the step-derived flags from
// `setup`.
void ResetBatchRunState(TBatchRunState& state, const TBatchRunSetup& setup);

}  // namespace astrelon
