#pragma once
// What the batch engine keeps from tick to tick beside the run state
// (TBatchRunState): the open video and its frame, the position in the input
// list, the slots it loaded (so that a slot closed by the user is noticed),
// and the files that steps keep loaded for the following images.
#include <array>
#include <cstdint>
#include <memory>

#include "batch/steps/batch_menu_item.h"

namespace astrelon {

struct TAviReader;

// A file of operations 11 and 12 (dark, flat) for the images of a run.
enum class TKeptFile : uint8_t {
  NotLoaded,  // loaded at the step's next image
  Kept,       // in StepSlot, used while that slot is in use
  EachImage,  // loaded for every image and closed after it (memory is short)
  Failed,     // could not be loaded: the step is skipped for the rest of the run
};

struct TBatchEngineState {
  TBatchEngineState();
  ~TBatchEngineState();

  // The open video of a run on an AVI file; the number of the frame loaded last.
  std::unique_ptr<TAviReader> Video;
  int32_t VideoFrame = 0;
  // Position in the candidate list (input list or folder).
  int32_t ListPosition = 0;
  // The slots the engine loaded for the current input and for the target; -1
  // when it holds none (or closed them itself).
  int32_t LoadedWork = -1;
  int32_t LoadedTarget = -1;
  // The step run last (0 before the first step of an image).
  int32_t LastStep = 0;
  // Per step 1..256 the state of its kept file.
  std::array<TKeptFile, MaxBatchSteps + 1> Kept{};
};

extern TBatchEngineState BatchEngine;

// A new run: no video, list position 0, no slots, every kept file unloaded.
// Closes a video left open.
void ResetBatchEngineState();

}  // namespace astrelon
