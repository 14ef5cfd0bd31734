#pragma once
// Refreshing the histogram window after a slot's data changed. The histogram
// window installs the hook when it exists; until then a refresh does nothing.
#include <functional>

namespace astrelon {

extern std::function<void()> RefreshHistogramHook;
void RefreshHistogramWindow();

}  // namespace astrelon
