#include "batch/align/run_shift_list.h"

#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_run_state.h"

namespace astrelon {

void RecordRunFileName() {
  TBatchRunState& s = BatchRun;
  if (s.UseShiftList) return;
  if (!AddRunFileName(s.InputFileName)) return;
  ++s.ShiftListIndex;
  ++s.ShiftListCount;
  s.WriteShiftList = true;
}

}  // namespace astrelon
