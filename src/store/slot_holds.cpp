#include "store/slot_holds.h"

#include <algorithm>
#include <atomic>

#include "core/batch_state.h"
#include "store/image_store.h"

namespace astrelon {

void (*SlotGuardChangedHook)() = nullptr;

namespace {

std::array<std::atomic<int32_t>, SlotArraySize> HoldCount{};
std::atomic<int32_t> HeldTotal{0};
// Per slot: closes deferred, and a close requested meanwhile.
std::array<uint8_t, SlotArraySize> Deferred{};
std::array<uint8_t, SlotArraySize> CloseRequested{};

}  // namespace

void NotifySlotGuardChanged() {
  if (SlotGuardChangedHook) SlotGuardChangedHook();
}

TSlotHold::TSlotHold(std::initializer_list<int> held) {
  for (int s : held) {
    if (!ValidSlot(s) || count_ == int(slots_.size()) || std::count(slots_.begin(), slots_.begin() + count_, s))
      continue;
    slots_[size_t(count_++)] = s;
    ++HoldCount[size_t(s)];
  }
  if (count_ > 0 && HeldTotal++ == 0) NotifySlotGuardChanged();
}

TSlotHold::~TSlotHold() {
  for (int i = 0; i < count_; ++i) --HoldCount[size_t(slots_[size_t(i)])];
  if (count_ > 0 && --HeldTotal == 0) NotifySlotGuardChanged();
}

bool SlotHeldByWorkers(int slot) { return ValidSlot(slot) && HoldCount[size_t(slot)] > 0; }

bool AnySlotHeldByWorkers() { return HeldTotal > 0; }

void DeferSlotClose(int slot, bool deferred) {
  if (!ValidSlot(slot)) return;
  Deferred[size_t(slot)] = deferred ? 1 : 0;
  if (deferred) CloseRequested[size_t(slot)] = 0;
}

bool SlotCloseDeferred(int slot) { return ValidSlot(slot) && Deferred[size_t(slot)] != 0; }

void RequestSlotClose(int slot) {
  if (ValidSlot(slot)) CloseRequested[size_t(slot)] = 1;
}

bool TakeSlotCloseRequest(int slot) {
  if (!ValidSlot(slot) || !CloseRequested[size_t(slot)]) return false;
  CloseRequested[size_t(slot)] = 0;
  return true;
}

bool SlotBusy(int slot) {
  if (SlotHeldByWorkers(slot)) return true;
  return OperationRunning && !BatchRunning && ValidSlot(slot) &&
         (slot == SlotPair.Source || slot == SlotPair.Destination);
}

}  // namespace astrelon
