#include "shell/histogram_refresh.h"

namespace astrelon {

std::function<void()> RefreshHistogramHook;

void RefreshHistogramWindow() {
  if (RefreshHistogramHook) RefreshHistogramHook();
}

}  // namespace astrelon
