#include "batch/exec/step_copy.h"

#include <utility>

#include "batch/exec/step_run.h"
#include "store/display/display_histogram.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {

TStepCopy::TStepCopy(const TStepRun& run) {
  if (run.Free < 1 || Store.InUse[size_t(run.Free)] || !SlotInUse(run.Work)) return;
  if (CopyImageSlot(run.Work, run.Free)) slot_ = run.Free;
}

TStepCopy::~TStepCopy() {
  if (slot_ >= 1) FreeSlot(slot_);
}

void ReplaceWorkImage(int work, int from) {
  if (!SlotInUse(work) || !SlotInUse(from) || work == from) return;
  const int32_t zoom = Store.Display[size_t(work)].ZoomPercent;
  Store.Image[size_t(work)] = std::move(Store.Image[size_t(from)]);
  CopyHeaderCards(from, work);
  CopyDisplayRecord(from, work);
  Store.Display[size_t(work)].ZoomPercent = zoom;
  Store.Display[size_t(work)].Changed = 1;
  Store.Image[size_t(from)] = TImageSlot();
  FreeSlot(from);
  if (!Store.Window[size_t(from)]) Store.HasWindow[size_t(from)] = 0;
}

TWorkRect WholeImageRect(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  return TWorkRect{0, im.Width - 1, 0, im.Height - 1};
}

}  // namespace astrelon
