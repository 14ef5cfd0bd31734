#include "batch/batch_window_state.h"

namespace astrelon {
TBatchWindowState BatchWindow;
}  // namespace astrelon
