#pragma once
// One unit of work of a running batch. The batch window's timer calls it while
// `Running` is set; it returns whether the timer is to run again. A run ends
// when the call clears `Running`.
#include <functional>

namespace astrelon {

// The routine the timer calls. By default the run ends at its first tick with
// nothing processed: the shift mode goes back and `Running` is cleared.
extern std::function<bool()> BatchTick;
// That default.
bool EndBatchRunAtOnce();

}  // namespace astrelon
