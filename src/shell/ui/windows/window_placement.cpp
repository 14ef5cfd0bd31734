#include "shell/ui/windows/window_placement.h"

#include <QGuiApplication>
#include <QMdiArea>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "shell/ui/main/main_window_link.h"
#include "shell/ui/windows/image_window.h"
#include "store/image_store.h"

namespace astrelon {

QPoint PlaceBeside(const QRect& anchor, QSize size, const QRect& desk) {
  int x = anchor.right() + 1;
  if (x + size.width() - 1 > desk.right()) {
    x = anchor.left() - size.width();
    if (x < desk.left()) x = anchor.right() + 1 - size.width();
  }
  x = std::max(desk.left(), std::min(x, desk.right() + 1 - size.width()));
  const int y = std::max(desk.top(), std::min(anchor.top(), desk.bottom() + 1 - size.height()));
  return {x, y};
}

QPoint NewWindowPlace(QPoint place, QSize size, QSize area) {
  const int x = std::max(0, std::min(place.x(), area.width() - size.width()));
  const int y = std::max(0, std::min(place.y(), area.height() - size.height()));
  return {x, y};
}

QRect ImageAreaOnDesk() {
  const QMdiArea* area = MainLink().MdiArea;
  if (!area || !area->viewport()) return {};
  const QWidget* view = area->viewport();
  return {view->mapToGlobal(QPoint(0, 0)), view->size()};
}

QRect ActiveImageWindowOnDesk() {
  const int slot = FindActiveSlot();
  const TMDIChild* w = slot >= 1 ? ImageWindow(slot) : nullptr;
  if (!w || !w->isVisible()) return {};
  return {w->mapToGlobal(QPoint(0, 0)), w->size()};
}

void MoveBeside(QWidget* window, const QRect& anchor) {
  if (!window || anchor.isEmpty()) return;
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // The frame is measured once the window has been shown; before that a small
  // margin stands in for it.
  const QSize frame = window->isVisible() ? window->frameGeometry().size() : window->size() + QSize(8, 30);
  const QPoint corner = PlaceBeside(anchor, frame, screen->availableVirtualGeometry());
  window->move(corner);
}

}  // namespace astrelon
