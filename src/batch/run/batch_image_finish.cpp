#include "batch/run/batch_image_finish.h"

#include "batch/align/double_size_feed.h"
#include "batch/inputs/series_file_list.h"
#include "batch/run/batch_engine_state.h"
#include "batch/run/batch_input_load.h"
#include "batch/run/batch_result_save.h"
#include "batch/run/batch_run_slots.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "store/image_store.h"

namespace astrelon {

namespace {

// Closes the work image, or keeps a present work window of an add run (not
// the target) with its picture disabled for the next image. The target stays
// unless the image was dropped.
void ReleaseWorkImage() {
  TBatchRunState& s = BatchRun;
  const int work = s.WorkSlot;
  if (!SlotInUse(work)) return;
  const bool windowMissing = !Store.HasWindow[size_t(work)];
  const bool isTarget = work == s.TargetSlot;
  if (!(s.FilesDone > 1 || s.SkipImage || windowMissing || (s.HasFitStep && !s.ExistingTarget))) return;
  if (isTarget && !s.SkipImage) return;
  if (s.HasAddStep && !windowMissing && !isTarget)
    ViewSetPictureEnabled(work, false);
  else
    CloseRunSlot(work);
}

// The names of every remaining input go into the run's list for the stack
// combination at the end.
void CollectRemainingInputs(std::string name) {
  TBatchRunState& s = BatchRun;
  do {
    AddRunFileName(name);
    ++s.FilesCounted;
  } while (NextRunInput(name));
  s.FilesDone = int32_t(SeriesFileList.size());
}

// The comet computation's second image, chosen by the user after the first;
// cancelling ends the run, and the run ends after the second.
bool ChooseSecondCometImage() {
  TBatchRunState& s = BatchRun;
  if (s.FilesDone != 1) return false;
  EngineUi().ShowMessage(BatchCaption(TBatchCaption::SecondCometImage));
  const std::string next = ViewChooseImage(s.StartFolder);
  if (next.empty()) {
    s.EndOfRun = true;
    return false;
  }
  s.InputFileName = next;
  return true;
}

}  // namespace

std::string FilesDoneText(int count) {
  return std::to_string(count) + BatchCaption(count == 1 ? TBatchCaption::OneImageDone : TBatchCaption::ImagesDone);
}

bool FinishImage() {
  TBatchRunState& s = BatchRun;
  if ((s.BayerSpecial || s.CombineMode > 2) && SlotInUse(s.TargetSlot) && Store.HasWindow[size_t(s.TargetSlot)])
    ViewWritePictureNote(s.TargetSlot, BatchCaption(TBatchCaption::ResultAtEnd));

  // A double-size image that cannot be made ends the run before anything is written.
  if (!s.EndOfRun && !s.SkipImage && !s.CometCompute && DoubleSizeWanted() && !FeedDoubleSizeTarget(s.FilesDone == 0))
    s.EndOfRun = true;

  s.CurrentStep = 1;
  if (!s.SkipImage && !s.ExistingTarget) ++s.FilesDone;
  if (!s.ExistingTarget) ++s.FilesCounted;
  if (s.FilesDone > 0) StatusCount(FilesDoneText(s.FilesDone));

  if (!s.HasAddStep && !s.EndOfRun && !s.SkipImage && !s.ExistingTarget && !s.CometCompute) SaveWorkResult();

  ReleaseWorkImage();
  if (s.HasAddStep && s.WorkSlot == s.TargetSlot && !s.SkipImage) s.WorkSlot = -1;
  BatchEngine.LoadedWork = -1;

  bool more = false;
  if (!s.EndOfRun) {
    if ((s.HasAddStep || s.MarkCount > 0) && !s.CheckStars && !s.UseShiftList) ViewShowCheckButton(true);
    std::string name = s.InputFileName;
    const bool found = !s.CometCompute && (s.ExistingTarget || NextRunInput(name));
    if (s.CometCompute) {
      more = ChooseSecondCometImage();
    } else if (s.UseShiftList && s.CombineMode > 2 && s.ShiftListCount > 1) {
      s.FilesDone = s.ShiftListCount;
    } else if (found && s.CombineMode > 2 && s.MarkCount == 0) {
      CollectRemainingInputs(name);
    } else if (found) {
      s.InputFileName = name;
      more = true;
    }
  }
  s.ExistingTarget = false;
  s.SkipImage = false;
  return more;
}

}  // namespace astrelon
