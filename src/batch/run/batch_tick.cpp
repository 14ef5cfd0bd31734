#include "batch/run/batch_tick.h"

#include "batch/run/batch_run_state.h"
#include "core/settings.h"

namespace astrelon {

bool EndBatchRunAtOnce() {
  BatchRun.EndOfRun = true;
  Settings.ShiftMode = BatchRun.SavedShiftMode;
  BatchRun.Running = 0;
  return false;
}

std::function<bool()> BatchTick = EndBatchRunAtOnce;

}  // namespace astrelon
