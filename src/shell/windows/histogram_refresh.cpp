#include "shell/windows/histogram_refresh.h"

#include <utility>

namespace astrelon {

namespace {
THistogramWindowHooks Hooks;
}  // namespace

void SetHistogramWindowHooks(THistogramWindowHooks hooks) { Hooks = std::move(hooks); }

void RefreshHistogramWindow() {
  if (Hooks.Refresh) Hooks.Refresh();
}

void ClearHistogramChangePending() {
  if (Hooks.ClearChangePending) Hooks.ClearChangePending();
}

}  // namespace astrelon
