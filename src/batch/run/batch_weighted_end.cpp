#include "batch/run/batch_weighted_end.h"

#include "batch/accumulate/drizzle_normalise.h"
#include "batch/accumulate/weighted_target.h"
#include "batch/run/batch_result_save.h"
#include "batch/run/batch_run_slots.h"
#include "batch/run/batch_run_state.h"
#include "batch/run/batch_run_view.h"
#include "batch/steps/batch_captions.h"
#include "common/paths.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

bool FinishBayerTarget(bool aborted) {
  TBatchRunState& s = BatchRun;
  TWeightedTarget& t = BayerTarget;
  if (!s.HasAddStep || !s.BayerSpecial) return false;
  if (s.TargetSlot != t.Slot && SlotInUse(s.TargetSlot)) CloseRunSlot(s.TargetSlot);
  if (!t.Exists()) {
    t.ReleaseWeights();
    t = TWeightedTarget();
    return true;
  }
  const int slot = t.Slot;
  s.TargetSlot = slot;
  Store.FileName[size_t(slot)] = s.TargetFileName;
  StatusFunction(BatchCaption(TBatchCaption::BayerPage));
  DrizzleNormieren(t);
  AddHistoryCard(slot, std::to_string(s.FilesDone) + BatchCaption(TBatchCaption::BayerAdded), 0);
  if (!aborted) {
    const std::string written = WriteRunImage(slot, s.TargetFileName, !s.NewTarget);
    if (!written.empty()) s.TargetFileName = written;
  }
  ComputeHistogram(slot, false, true);
  SetAutoDisplayRange(slot, false);
  SetDisplayColorType(slot);
  ViewShowWindow(slot);
  ViewRender(slot);
  t = TWeightedTarget();
  return true;
}

void FinishDoubleSizeTarget(bool aborted) {
  TWeightedTarget& t = SwarpTarget;
  if (t.Exists() && !aborted) {
    const int slot = t.Slot;
    StatusFunction(BatchCaption(TBatchCaption::SavingFile));
    DrizzleNormieren(t);
    const std::string name = BatchRun.TargetFolder + "Swarp_" + ExtractFileName(BatchRun.TargetFileName);
    Store.FileName[size_t(slot)] = name;
    WriteRunImage(slot, name, false);
  }
  if (t.Exists()) CloseRunSlot(t.Slot);
  t.ReleaseWeights();
  t = TWeightedTarget();
}

}  // namespace astrelon
