#include "batch/align/comet_reference.h"

#include <utility>

#include "store/image_store.h"

namespace astrelon {

namespace {

TImageSlot Reference;
bool Kept = false;

bool SameSize(const TImageSlot& a, const TImageSlot& b) {
  return a.Width == b.Width && a.Height == b.Height && a.PlaneCount == b.PlaneCount;
}

void Exchange(int slot) { std::swap(Store.Image[size_t(slot)], Reference); }

}  // namespace

void KeepCometReference(int target) {
  ReleaseCometReference();
  if (!SlotInUse(target)) return;
  Reference = Store.Image[size_t(target)];
  Kept = true;
}

void ReleaseCometReference() {
  Reference = TImageSlot();
  Kept = false;
}

TCometReferenceView::TCometReferenceView(int target) {
  if (!Kept || !SlotInUse(target) || !SameSize(Store.Image[size_t(target)], Reference)) return;
  slot_ = target;
  Exchange(slot_);
}

TCometReferenceView::~TCometReferenceView() {
  if (slot_ >= 0) Exchange(slot_);
}

}  // namespace astrelon
