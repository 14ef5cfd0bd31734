#include "batch/exec/kept_step_files.h"

#include <new>

#include "batch/exec/step_values.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "store/image_loader.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

bool StepInRange(int32_t step) { return step >= 1 && step <= MaxBatchSteps; }

}  // namespace

int LoadStepFile(const std::string& fileName) {
  const int slot = FindFreeSlot();
  if (slot < 1) return -1;
  bool loaded = false;
  try {
    loaded = LoadImageFile(slot, fileName);
  } catch (const std::bad_alloc&) {
    loaded = false;
  }
  if (loaded) return slot;
  FreeSlot(slot);
  ShowFileNotLoaded(fileName);
  return -1;
}

int StepFileSlot(int32_t step, const std::string& fileName) {
  if (!StepInRange(step)) return -1;
  TKeptFile& state = BatchEngine.Kept[size_t(step)];
  int32_t& kept = BatchRun.StepSlot[size_t(step)];
  if (state == TKeptFile::Failed) return -1;
  if (state == TKeptFile::Kept && SlotInUse(kept)) return kept;
  if (FindFreeSlot() < 1) return -1;
  const int slot = LoadStepFile(fileName);
  if (slot < 1) {
    state = TKeptFile::Failed;
    kept = -1;
  }
  return slot;
}

void KeepOrReleaseStepFile(int32_t step, int slot) {
  if (!StepInRange(step) || !SlotInUse(slot)) return;
  TKeptFile& state = BatchEngine.Kept[size_t(step)];
  int32_t& kept = BatchRun.StepSlot[size_t(step)];
  if (state != TKeptFile::EachImage && HasMemoryForSlot(slot)) {
    state = TKeptFile::Kept;
    kept = slot;
    return;
  }
  state = TKeptFile::EachImage;
  kept = -1;
  ViewCloseSlot(slot);
}

void CloseKeptStepFiles() {
  for (int32_t step = 1; step <= MaxBatchSteps; ++step) {
    int32_t& kept = BatchRun.StepSlot[size_t(step)];
    if (BatchEngine.Kept[size_t(step)] == TKeptFile::Kept && SlotInUse(kept)) ViewCloseSlot(kept);
    if (BatchEngine.Kept[size_t(step)] != TKeptFile::Failed) BatchEngine.Kept[size_t(step)] = TKeptFile::NotLoaded;
    kept = -1;
  }
}

}  // namespace astrelon
