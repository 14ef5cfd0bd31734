#include "batch/steps/batch_window_state.h"

namespace astrelon {
TBatchWindowState BatchWindow;
}  // namespace astrelon
