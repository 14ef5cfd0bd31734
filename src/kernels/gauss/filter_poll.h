#pragma once
// How a filter kernel learns that it is to stop and shows how far it got. Between
// bands of rows the kernel calls Continue: pending events run (at most every few
// milliseconds, so that windows stay live without slowing the loop), the progress
// bar of a window advances, and the abort flag and, for a preview, the preview
// generation are checked. The dialog and the batch pass their own poll.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace astrelon {

// Raised by every new preview request and by "&Abbruch"; a running preview or
// filter loop stops when it no longer equals the value it started with.
extern std::atomic<uint32_t> PreviewGeneration;
// Set when a kernel was stopped by the abort flag.
extern bool FilterAborted;

class TFilterPoll {
public:
  TFilterPoll() = default;

  // Progress in the window of `windowSlot` under `caption`, in percent of the
  // rows y1..y2 of `ownerSlot`'s planes.
  void ShowProgressIn(int windowSlot, int ownerSlot, std::string caption);
  // The caption of the progress shown from now on (the window stays).
  void SetCaption(std::string caption) { caption_ = std::move(caption); }
  // Stops as soon as PreviewGeneration differs from `generation`.
  void WatchGeneration(uint32_t generation);
  // Whether the abort flag stops the kernel (on by default).
  void WatchAbort(bool on) { watchAbort_ = on; }

  // The rows up to `row` of `plane` are done. False when the kernel is to stop;
  // it then returns without writing anything more.
  bool Continue(int plane, int row);
  // The same with the progress of `plane` given in percent.
  bool ContinuePercent(int plane, float percent);
  // The state without running events.
  bool Stopped() const;
  // The kernel was stopped by the abort flag.
  bool Aborted() const { return aborted_; }
  // Hides the progress bar (when one was shown).
  void HideProgress() const;

private:
  bool Report(int plane, float position, bool percent);

  int windowSlot_ = -1;
  int ownerSlot_ = -1;
  std::string caption_;
  bool watchGeneration_ = false;
  bool watchAbort_ = true;
  uint32_t generation_ = 0;
  mutable bool aborted_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// The end of a kernel's run: hides the progress and, when the run did not
// finish, sets FilterAborted when the abort flag stopped it. Returns `finished`.
bool EndFilterRun(const TFilterPoll& poll, bool finished);

}  // namespace astrelon
