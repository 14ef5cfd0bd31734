#pragma once
// Every batch test starts from the batch window's fresh state: the file step
// alone, default pages, no comet values or input list, no translation.
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "batch/steps/batch_text.h"
#include "batch/steps/batch_window_state.h"
#include "batch/steps/translated_batch_table.h"
#include "core/funktion_defs.h"
#include "core/language.h"
#include "test_support.h"

namespace astrelon::test {

inline void ResetBatchModule() {
  BatchSteps = TBatchStepList();
  BatchWindow = TBatchWindowState();
  BatchText = TBatchTextLists();
  BatchRun.CometValuesSet = false;
  BatchRun.InputList = false;
  BatchRun.ByTimestamp = false;
  BatchRun.UseShiftList = false;
  BatchRun.CombineMode = 0;
  BatchRun.MosaicFileName = "*.qcm";
  BatchRun.CometPerMinuteX = BatchRun.CometPerMinuteY = BatchRun.CometPerFrameX = BatchRun.CometPerFrameY = 0.0;
  UnloadLanguageFile();
  ResetTranslatedBatchTable();
  FunktionDefTable = DefaultFunktionDefTable();
}

class BatchTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    ResetBatchModule();
  }
  void TearDown() override {
    ResetBatchModule();
    StoreTest::TearDown();
  }

  // Appends steps of these operations after the file step, as the operation menu sets them.
  static void AppendSteps(std::initializer_list<TBatchOp> ops) {
    for (TBatchOp op : ops) {
      TBatchStepList& list = BatchSteps;
      list.EditorStep = list.StepCount + 1;
      SetStepOperation(list, op, BatchRun.CombineMode);
      list.StepCount = list.EditorStep;
    }
  }

  // Parses `lines` as the untranslated batch text.
  static void Read(std::vector<std::string> lines) {
    BatchText.Lines = std::move(lines);
    BatchTextLesen();
  }
};

}  // namespace astrelon::test
