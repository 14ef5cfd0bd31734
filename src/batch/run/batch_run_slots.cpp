#include "batch/run/batch_run_slots.h"

#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_step_list.h"
#include "common/engine_ui.h"
#include "store/image_store.h"
#include "store/slot_holds.h"

namespace astrelon {

void CloseRunSlot(int slot) {
  if (!ValidSlot(slot)) return;
  if (BatchEngine.LoadedWork == slot) BatchEngine.LoadedWork = -1;
  if (BatchEngine.LoadedTarget == slot) BatchEngine.LoadedTarget = -1;
  if (BatchRun.TargetSlot == slot) BatchRun.TargetSlot = -1;
  DeferSlotClose(slot, false);
  if (SlotInUse(slot) || Store.HasWindow[size_t(slot)]) ViewCloseSlot(slot);
}

TRunSlotGuard::TRunSlotGuard() : work_(BatchEngine.LoadedWork), target_(BatchEngine.LoadedTarget) {
  DeferSlotClose(work_, true);
  DeferSlotClose(target_, true);
}

TRunSlotGuard::~TRunSlotGuard() {
  for (const int slot : {work_, target_}) {
    if (!ValidSlot(slot)) continue;
    DeferSlotClose(slot, false);
    if (TakeSlotCloseRequest(slot) && SlotInUse(slot)) ViewCloseSlot(slot);
  }
}

void CheckRunSlots() {
  TBatchEngineState& e = BatchEngine;
  if (e.LoadedTarget >= 1 && !SlotInUse(e.LoadedTarget)) {
    if (BatchRun.TargetSlot == e.LoadedTarget) BatchRun.TargetSlot = -1;
    if (e.LoadedWork == e.LoadedTarget) e.LoadedWork = -1;
    e.LoadedTarget = -1;
    BatchRun.EndOfRun = true;
  }
  if (e.LoadedWork >= 1 && !SlotInUse(e.LoadedWork)) {
    e.LoadedWork = -1;
    if (!BatchRun.EndOfRun) {
      BatchRun.SkipImage = true;
      BatchRun.CurrentStep = BatchSteps.StepCount + 1;
    }
  }
}

void PumpAndCheck() {
  EngineUi().ProcessMessages();
  CheckRunSlots();
}

}  // namespace astrelon
