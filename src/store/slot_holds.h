#pragma once
// Slots that worker threads read or write while the calling thread lets the
// user interface run (ProcessMessages). A command that changes, resizes or
// frees a slot asks SlotBusy first and refuses a held slot, so that no worker
// ever touches planes that were replaced or freed under it.
#include <array>
#include <initializer_list>

namespace astrelon {

// Holds the given slots (numbers outside 1..49 and repeats are ignored) for
// its lifetime; holds of the same slot nest.
class TSlotHold {
public:
  explicit TSlotHold(std::initializer_list<int> held);
  ~TSlotHold();
  TSlotHold(const TSlotHold&) = delete;
  TSlotHold& operator=(const TSlotHold&) = delete;

private:
  std::array<int, 4> slots_{};
  int count_ = 0;
};

// Whether running workers hold the slot.
bool SlotHeldByWorkers(int slot);
// Whether running workers hold any slot.
bool AnySlotHeldByWorkers();
// Whether a command must leave the slot alone now: running workers hold it, or
// it is the source or the result of a running interactive operation (outside
// the batch).
bool SlotBusy(int slot);

// Slots a batch step works on: closing one of their windows meanwhile only
// records the request, which the batch carries out when the step returns.
// Deferring a slot clears an old request.
void DeferSlotClose(int slot, bool deferred);
bool SlotCloseDeferred(int slot);
// Records a close of a deferred slot's window.
void RequestSlotClose(int slot);
// Whether a close of the slot was requested; the request is cleared.
bool TakeSlotCloseRequest(int slot);

// Called on the thread that starts or ends them when an interactive operation
// starts or ends and when the first hold begins or the last ends; the user
// interface refreshes the enabling of its commands. Null: nothing is called.
extern void (*SlotGuardChangedHook)();
void NotifySlotGuardChanged();

}  // namespace astrelon
