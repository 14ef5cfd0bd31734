#pragma once
// The loaded batch: step records indexed from 1 (step 1 is the file step),
// their operation numbers, the step count and the step shown in the editor.
#include <array>
#include <cstdint>
#include <vector>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

struct TBatchStepList {
  // Record i is step i; entry 0 is unused. At least 21 entries, at most 257.
  std::vector<bmenuitem> Records;
  // Operation of step i (1..256); entry 0 is unused.
  std::array<TBatchOp, MaxBatchSteps + 1> Ops;
  int32_t StepCount = 1;
  int32_t EditorStep = 1;

  // The list as the batch window starts it: the file step alone, records 2 to
  // 20 blank, every other step without operation.
  TBatchStepList();
};

// The batch window's list.
extern TBatchStepList BatchSteps;

// Grows the records to 2n entries (at most 257) when fewer than n + 2 exist;
// new records are blank templates and their steps get operation -1.
void EnsureStepCapacity(TBatchStepList& list, int32_t n);
// For an operation with a filter function: each non-empty value 1..3 of the
// step becomes the text of that function's slider as the filter dialog shows
// it. Value 4 and empty values stay.
void FillStepFromFilterTable(TBatchStepList& list, int32_t step, TBatchOp op);
// Sets the operation of the editor step (op -1 empties it): the record becomes
// the table's row with the filter sliders' values; operations 12 and 20 start
// with their option off; operation 10 ends the batch (every later step loses
// its operation) and, after step 2, falls back from Median, MittelMed and Sigma
// to Add (`combineMode`).
void SetStepOperation(TBatchStepList& list, TBatchOp op, int32_t& combineMode);

}  // namespace astrelon
