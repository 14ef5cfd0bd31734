#include "batch/steps/batch_step_list.h"

#include <algorithm>

#include "batch/steps/batch_operation_table.h"
#include "core/funktion_defs.h"

namespace astrelon {

TBatchStepList BatchSteps;

TBatchStepList::TBatchStepList() : Records(21, BatchTableRow(-1)) {
  Ops.fill(-1);
  Records[1] = BatchTableRow(0);
  Ops[1] = 0;
}

void EnsureStepCapacity(TBatchStepList& list, int32_t n) {
  if (n < 0 || int64_t(list.Records.size()) >= int64_t(n) + 2) return;
  const size_t size = size_t(std::min<int64_t>(2 * int64_t(n), MaxBatchSteps + 1));
  if (size <= list.Records.size()) return;
  for (size_t i = list.Records.size(); i < size; ++i) list.Ops[i] = -1;
  list.Records.resize(size, BatchTableRow(-1));
}

void FillStepFromFilterTable(TBatchStepList& list, int32_t step, TBatchOp op) {
  if (op < 9 || op > BatchOperationCount || step < 1 || size_t(step) >= list.Records.size()) return;
  const int32_t f = BatchFilterIndex(op);
  if (f == 0) return;
  bmenuitem& r = list.Records[size_t(step)];
  for (int j = 0; j < 3; ++j)
    if (!r.Values[size_t(j)].empty()) r.Values[size_t(j)] = FunktionParamText(f, j + 1);
}

void SetStepOperation(TBatchStepList& list, TBatchOp op, int32_t& combineMode) {
  const int32_t n = list.EditorStep;
  if (n < 1 || n > MaxBatchSteps) return;
  EnsureStepCapacity(list, n);
  list.Ops[size_t(n)] = op;
  list.Records[size_t(n)] = BatchTableRow(op);
  FillStepFromFilterTable(list, n, op);
  if (op == 12 || op == 20) list.Records[size_t(n)].OptionCaption.clear();
  if (op == 10) {
    // Nothing follows an add to the target: every later step is emptied.
    for (int32_t i = n + 1; i <= MaxBatchSteps; ++i) {
      list.Ops[size_t(i)] = -1;
      if (size_t(i) < list.Records.size()) list.Records[size_t(i)] = BatchTableRow(-1);
    }
    list.StepCount = n;
    if (n > 2 && combineMode > 2) combineMode = 0;
  }
}

}  // namespace astrelon
