#include "batch/run/batch_engine_state.h"

#include "platform/avi_reader.h"
#include "registration/stacking/stack_alignment.h"

namespace astrelon {

TBatchEngineState BatchEngine;

TBatchEngineState::TBatchEngineState() { Kept.fill(TKeptFile::NotLoaded); }

TBatchEngineState::~TBatchEngineState() = default;

void ResetBatchEngineState() {
  TBatchEngineState& e = BatchEngine;
  if (e.Video) {
    if (StackVideo == e.Video.get()) StackVideo = nullptr;
    CloseAviStream(*e.Video);
    e.Video.reset();
  }
  e.VideoFrame = 0;
  e.ListPosition = 0;
  e.LoadedWork = -1;
  e.LoadedTarget = -1;
  e.LastStep = 0;
  e.Kept.fill(TKeptFile::NotLoaded);
}

}  // namespace astrelon
