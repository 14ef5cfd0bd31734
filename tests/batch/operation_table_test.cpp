// The operation table, the step list routines and the run state.
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/translated_batch_table.h"
#include "batch_fixture.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "registration/combination/batch_combination_inputs.h"

namespace astrelon::test {
namespace {

using Table = BatchTest;

TEST_F(Table, RowsHoldTheOperationsWithTheirDefaults) {
  const TBatchOperationTable& t = BatchOperationTable();
  ASSERT_EQ(t.size(), 45u);
  EXPECT_EQ(t[0], bmenuitem{});
  EXPECT_EQ(t[0].MarksOrInterpolation, -1);
  EXPECT_EQ(t[0].OptionFlags, -1);
  for (size_t r = 1; r < t.size(); ++r) EXPECT_EQ(t[r].OptionFlags, 0) << r;
  EXPECT_EQ(t[1].Name, "Dateien festlegen");
  EXPECT_EQ(t[1].OptionCaption, "Fehlende Dateien der Serie überspringen");
  EXPECT_EQ(BatchTableRow(8).Values[0], "32767");
  const bmenuitem& h = BatchTableRow(34);
  EXPECT_EQ(h.Labels, (std::array<std::string, 4>{"Dateiname", "Minwert", "Maxwert", "Skalierung"}));
  EXPECT_EQ(h.Values, (std::array<std::string, 4>{"*.qzh", "0.0", "255.0", "65535.0"}));
  EXPECT_EQ(BatchTableRow(43).Name, "Medianfilter");
  EXPECT_EQ(BatchTableRow(10).MarksOrInterpolation, 0);
  EXPECT_EQ(BatchTableRow(14).MarksOrInterpolation, 0);
  EXPECT_EQ(BatchTableRow(-1), t[0]);
  EXPECT_EQ(BatchFilterIndex(9), 5);
  EXPECT_EQ(BatchFilterIndex(43), 14);
  EXPECT_EQ(BatchFilterIndex(10), 0);
}

TEST_F(Table, TranslatedTableTakesTranslationsWhereGiven) {
  std::vector<std::string> file;
  for (int s = 1; s <= 36; ++s) file.push_back("[" + std::to_string(s) + "_x");
  file.push_back("[37_Batch");
  file.push_back("[5.1]Add value");
  file.push_back("[5.2]Value");
  file.push_back("[7.1]");  // empty: the German name stays
  file.push_back("[4.6]Anti moire");
  LoadLanguageFile(file);
  TranslateBatchTable();
  EXPECT_EQ(TranslatedBatchTable[5].Name, "Add value");
  EXPECT_EQ(TranslatedBatchTable[5].Labels[0], "Value");
  EXPECT_EQ(TranslatedBatchTable[7].Name, "Invertieren");
  EXPECT_EQ(TranslatedBatchTable[4].OptionCaption, "Anti moire");
  EXPECT_EQ(TranslatedBatchTable[5].Labels[1], "");  // no parameter stays no parameter
  // Steps keep the German texts.
  EXPECT_EQ(BatchTableRow(4).Name, "Wert addieren");
}

TEST_F(Table, StepCapacityGrowsToTwiceTheStepsUpTo256) {
  TBatchStepList list;
  ASSERT_EQ(list.Records.size(), 21u);
  EXPECT_EQ(list.Records[1], BatchTableRow(0));
  EXPECT_EQ(list.Ops[1], 0);
  EnsureStepCapacity(list, 19);  // 21 >= 19 + 2: nothing to do
  EXPECT_EQ(list.Records.size(), 21u);
  list.Ops[30] = 7;
  EnsureStepCapacity(list, 20);
  ASSERT_EQ(list.Records.size(), 40u);
  EXPECT_EQ(list.Records[39], BatchTableRow(-1));
  EXPECT_EQ(list.Ops[30], -1);
  EnsureStepCapacity(list, 200);
  EXPECT_EQ(list.Records.size(), 257u);
  EnsureStepCapacity(list, 1000);
  EXPECT_EQ(list.Records.size(), 257u);  // never a 257th step
}

TEST_F(Table, SettingAnOperationFollowsItsRules) {
  TBatchStepList& list = BatchSteps;
  int32_t combine = 0;
  list.EditorStep = 2;
  SetStepOperation(list, 3, combine);
  EXPECT_EQ(list.Ops[2], 3);
  EXPECT_EQ(list.Records[2].OptionCaption, "Anti Moiré Filter");
  EXPECT_EQ(list.Records[2].MarksOrInterpolation, 2);
  EXPECT_EQ(list.Records[2].Values[0], "1.0");
  EXPECT_EQ(list.Records[2].Values[1], "1.0");

  SetStepOperation(list, 12, combine);
  EXPECT_EQ(list.Records[2].OptionCaption, "");  // the table carries the caption, the step starts off
  SetStepOperation(list, 20, combine);
  EXPECT_EQ(list.Records[2].OptionCaption, "");
  SetStepOperation(list, 4, combine);
  EXPECT_EQ(list.Records[2].Values[0], "0");
  SetStepOperation(list, -1, combine);
  EXPECT_EQ(list.Ops[2], -1);
  EXPECT_EQ(list.Records[2], BatchTableRow(-1));

  // A fresh blur step shows the Gauss filter's last radius.
  FunktionDefTable[5].Trackbar[0].Position = 0.8f;
  SetStepOperation(list, 9, combine);
  EXPECT_EQ(list.Records[2].Values[0], FunktionParamText(5, 1));
  EXPECT_NE(list.Records[2].Values[0], "1.0");
  // Empty values stay empty, value 4 is never touched.
  bmenuitem& r = list.Records[3];
  r = BatchTableRow(39);
  r.Values[1].clear();
  FillStepFromFilterTable(list, 3, 39);
  EXPECT_EQ(r.Values[0], FunktionParamText(4, 1));
  EXPECT_EQ(r.Values[1], "");
  EXPECT_EQ(r.Values[2], FunktionParamText(4, 3));

  // No step beyond 256.
  list.EditorStep = 257;
  SetStepOperation(list, 4, combine);
  EXPECT_LE(list.Records.size(), 257u);
}

TEST_F(Table, AddingToTheTargetEndsTheBatch) {
  TBatchStepList& list = BatchSteps;
  int32_t combine = 5;
  EnsureStepCapacity(list, 40);
  for (int i = 2; i <= 30; ++i) {
    list.Ops[size_t(i)] = 4;
    list.Records[size_t(i)] = BatchTableRow(4);
  }
  list.StepCount = 9;
  list.EditorStep = 5;
  SetStepOperation(list, 10, combine);
  EXPECT_EQ(list.StepCount, 5);
  EXPECT_EQ(list.Ops[5], 10);
  for (int i = 6; i <= MaxBatchSteps; ++i) EXPECT_EQ(list.Ops[size_t(i)], -1) << i;
  EXPECT_EQ(list.Records[25], BatchTableRow(-1));
  EXPECT_EQ(combine, 0);  // Sigma only as step 2

  combine = 5;
  list.EditorStep = 2;
  SetStepOperation(list, 10, combine);
  EXPECT_EQ(combine, 5);
  EXPECT_EQ(list.StepCount, 2);
}

TEST_F(Table, RunStateResetAndSharedFlags) {
  TBatchRunState& s = BatchRun;
  s.CurrentStep = 7;
  s.FilesDone = 3;
  s.FilesCounted = 4;
  s.ShiftListIndex = 2;
  s.ShiftListCount = 9;
  s.TargetSlot = s.WorkSlot = 5;
  s.CombinedCount = 8;
  s.StarTolerance = s.StarToleranceAfterCheck = 9.0f;
  s.EndOfRun = s.AviOpened = s.ReportProblems = s.CometCompute = s.OverwriteAll = true;
  s.AviInput = 1;
  s.WeightedAdd = 1;
  s.Abort = 1;
  s.CombineMode = 4;
  s.CometValuesSet = s.InputList = true;
  s.MosaicFileName = "bayer.qcm";

  ResetBatchRunState(s, {.HasAddStep = true, .HasFitStep = false, .MarkCount = 2, .BayerSpecial = true,
                         .CentroidMode = true, .ByTimestamp = true});
  EXPECT_EQ(s.CurrentStep, 1);
  EXPECT_EQ(s.FilesDone, 0);
  EXPECT_EQ(s.FilesCounted, 0);
  EXPECT_EQ(s.ShiftListIndex, 0);
  EXPECT_EQ(s.ShiftListCount, 0);
  EXPECT_EQ(s.TargetSlot, -1);
  EXPECT_EQ(s.WorkSlot, -1);
  EXPECT_EQ(s.CombinedCount, 1);
  EXPECT_EQ(s.StarTolerance, 2.0f);
  EXPECT_EQ(s.StarToleranceAfterCheck, 2.5f);
  EXPECT_TRUE(s.FirstImage && s.NewTarget && s.AskReportProblems && s.Running && s.CheckStars);
  EXPECT_FALSE(s.EndOfRun || s.AviInput || s.AviOpened || s.WeightedAdd || s.ReportProblems || s.CometCompute ||
               s.OverwriteAll || s.Abort);
  EXPECT_TRUE(s.HasAddStep && s.BayerSpecial && s.CentroidMode && s.ByTimestamp);
  EXPECT_FALSE(s.HasFitStep);
  // What the batch window set between runs stays.
  EXPECT_EQ(s.CombineMode, 4);
  EXPECT_TRUE(s.CometValuesSet && s.InputList);
  EXPECT_EQ(s.MosaicFileName, "bayer.qcm");

  // One storage: the lower layers see the run state's flags and the reverse.
  EXPECT_EQ(BatchMarkCount.load(), 2);
  EXPECT_EQ(BatchRunning.load(), 1);
  EXPECT_EQ(BatchAddToTarget.load(), 1);
  EXPECT_EQ(BatchDiscMode.load(), 1);
  s.MarkCount = 3;
  EXPECT_EQ(BatchMarkCount.load(), 3);
  BatchVideoInput = 1;
  EXPECT_TRUE(s.AviInput);
  BatchWeightedAdd = 1;
  EXPECT_TRUE(s.WeightedAdd);
  BatchAbort = 1;
  EXPECT_TRUE(s.Abort);

  // Without marks the first image is not checked; a loaded shift list keeps its count.
  s.UseShiftList = true;
  s.ShiftListCount = 6;
  ResetBatchRunState(s, {});
  EXPECT_FALSE(s.CheckStars);
  EXPECT_EQ(s.ShiftListCount, 6);
  EXPECT_EQ(BatchMarkCount.load(), 0);

  s.Running = 0;
  s.UseShiftList = false;
  BatchVideoInput = 0;
  BatchWeightedAdd = 0;
  BatchAbort = 0;
  BatchAddToTarget = 0;
  BatchDiscMode = 0;
}

}  // namespace
}  // namespace astrelon::test
