#pragma once
// The histogram window as the engine sees it. Every operation that changes an
// image or its display calls RefreshHistogramWindow afterwards; the window
// installs its handlers while it exists, and without it the calls do nothing.
#include <functional>

namespace astrelon {

struct THistogramWindowHooks {
  // Takes the active slot and, while the window is shown, redraws it from the slot's record.
  std::function<void()> Refresh;
  // Drops a display change that waits for the window's timer (the caller renders itself).
  std::function<void()> ClearChangePending;
};

// The window installs its handlers; an empty set removes them.
void SetHistogramWindowHooks(THistogramWindowHooks hooks);

void RefreshHistogramWindow();
void ClearHistogramChangePending();

}  // namespace astrelon
