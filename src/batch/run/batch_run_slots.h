#pragma once
// The slots a run works on and the windows the user may close while it runs:
// a close during a step waits until the step returns; afterwards a closed
// target ends the run and a closed work image drops the current image.
namespace astrelon {

// Closes a slot of the run (its window, or the slot without one) and forgets
// it as the loaded work image or target; the target's number is cleared.
void CloseRunSlot(int slot);

// While it lives, closing the window of the work image or the target only
// records the request; at its end the requested closes are carried out.
class TRunSlotGuard {
public:
  TRunSlotGuard();
  ~TRunSlotGuard();
  TRunSlotGuard(const TRunSlotGuard&) = delete;
  TRunSlotGuard& operator=(const TRunSlotGuard&) = delete;

private:
  int work_, target_;
};

// After window events ran: a target that is gone ends the run (EndOfRun); a
// work image that is gone is dropped (SkipImage, the image ends).
void CheckRunSlots();

// Lets window events run (one pump) and checks the run's slots afterwards.
void PumpAndCheck();

}  // namespace astrelon
