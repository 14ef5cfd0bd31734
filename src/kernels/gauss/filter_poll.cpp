#include "kernels/gauss/filter_poll.h"

#include "common/engine_ui.h"
#include "store/image_store.h"

namespace astrelon {

std::atomic<uint32_t> PreviewGeneration{0};
bool FilterAborted = false;

namespace {
// Pending events run at most this often inside a kernel.
constexpr auto EventInterval = std::chrono::milliseconds(15);
}  // namespace

void TFilterPoll::ShowProgressIn(int windowSlot, int ownerSlot, std::string caption) {
  windowSlot_ = windowSlot;
  ownerSlot_ = ownerSlot;
  caption_ = std::move(caption);
}

void TFilterPoll::WatchGeneration(uint32_t generation) {
  watchGeneration_ = true;
  generation_ = generation;
}

bool TFilterPoll::Stopped() const {
  if (watchAbort_ && AbortRequested) {
    aborted_ = true;
    return true;
  }
  return watchGeneration_ && PreviewGeneration.load() != generation_;
}

bool TFilterPoll::Continue(int plane, int row) { return Report(plane, float(row), false); }

bool TFilterPoll::ContinuePercent(int plane, float percent) { return Report(plane, percent, true); }

bool TFilterPoll::Report(int plane, float position, bool percent) {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ >= EventInterval) {
    last_ = now;
    if (ValidSlot(windowSlot_))
      ShowProgress(ownerSlot_, windowSlot_, plane, position, true, false, percent, false, caption_);
    else
      EngineUi().ProcessMessages();
  }
  return !Stopped();
}

void TFilterPoll::HideProgress() const {
  if (ValidSlot(windowSlot_)) astrelon::HideProgress(windowSlot_);
}

bool EndFilterRun(const TFilterPoll& poll, bool finished) {
  poll.HideProgress();
  if (!finished) FilterAborted = poll.Aborted();
  return finished;
}

}  // namespace astrelon
