#include "shell/ui/dialogs/cancel_key.h"

#include <QKeyEvent>

#include "store/image_store.h"

namespace astrelon {

bool EscapeCancels(QKeyEvent* e, bool busy, const std::function<void()>& cancel) {
  if (!e || e->key() != Qt::Key_Escape) return false;
  e->accept();
  if (busy)
    AbortRequested = 1;
  else if (cancel)
    cancel();
  return true;
}

}  // namespace astrelon
