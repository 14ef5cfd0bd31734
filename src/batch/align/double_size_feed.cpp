#include "batch/align/double_size_feed.h"

#include <algorithm>

#include "batch/accumulate/double_size.h"
#include "batch/accumulate/frame_alignment.h"
#include "batch/align/alignment_state.h"
#include "batch/align/comet_offset.h"
#include "batch/run/batch_run_state.h"
#include "batch/steps/batch_step_list.h"
#include "registration/combination/batch_combination_inputs.h"

namespace astrelon {

bool DoubleSizeWanted() {
  const TBatchStepList& list = BatchSteps;
  const int32_t last = list.StepCount;
  if (last < 2 || BatchRun.CombineMode != 0) return false;
  return list.Ops[size_t(last)] == 10 && !list.Records[size_t(last)].OptionCaption.empty();
}

bool FeedDoubleSizeTarget(bool firstImage) {
  TBatchRunState& s = BatchRun;
  if (firstImage) return PrepareDoubleSizeTarget(s.WorkSlot);
  if (s.MarkCount < 1) ResetPointsWithoutMarks();
  const TFloatPoint offset = ReferencePointOffset();
  MoveReferencePoints(offset.X, offset.Y);
  // The frame counts with the weight its star matching gave it.
  AddToDoubleSizeTarget(s.WorkSlot, FrameAlignment(BatchPoints, std::max<int32_t>(1, s.MarkCount)), BatchFrameWeight);
  MoveReferencePoints(-offset.X, -offset.Y);
  return true;
}

}  // namespace astrelon
