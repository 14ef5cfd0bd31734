#include "shell/ui/windows/popup_window.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

#include "shell/ui/windows/image_window.h"

namespace astrelon {

namespace {
QPointer<TMDIChild> LastPopupWindow;
}

void SetPopupWindow(TMDIChild* window) { LastPopupWindow = window; }

TMDIChild* PopupWindow(QAction* sender) {
  if (sender)
    for (QObject* o = sender->parent(); o; o = o->parent())
      if (auto* w = qobject_cast<TMDIChild*>(o)) return w;
  if (LastPopupWindow) return LastPopupWindow;
  return ImageWindow(FindActiveSlot());
}

}  // namespace astrelon
