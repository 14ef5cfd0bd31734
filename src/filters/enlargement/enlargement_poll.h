#pragma once
// How a two-times enlargement shows how far it got and learns that it is to
// stop: between bands of rows the calling thread asks the caller's poll with
// the percent done (the poll shows the progress and lets pending events run);
// the routine stops when the poll says no or the abort flag is raised.
#include <functional>

#include "store/image_store.h"

namespace astrelon {

using TEnlargementPoll = std::function<bool(int percent)>;

// True while the routine may go on.
inline bool ContinueEnlarging(const TEnlargementPoll& poll, int percent) {
  if (poll && !poll(percent)) return false;
  return AbortRequested == 0;
}

}  // namespace astrelon
