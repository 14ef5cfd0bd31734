#pragma once
// Escape on a dialog that holds a two-window operation (its source and result
// windows, the program's commands disabled while it shows): the key acts as the
// dialog's cancel button, so that the operation always ends and the commands
// come back. While the dialog computes, the key only stops the computation.
#include <functional>

class QKeyEvent;

namespace astrelon {

// False, and nothing done, unless `e` is Escape. Escape is taken: with `busy`
// it raises the abort flag, otherwise `cancel` runs.
bool EscapeCancels(QKeyEvent* e, bool busy, const std::function<void()>& cancel);

}  // namespace astrelon
