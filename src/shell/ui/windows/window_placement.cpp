#include "shell/ui/windows/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <utility>

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

std::optional<QRect> FreeCornerPlace(const QRect& area, const QRect& taken, QSize size, QSize minimum) {
  // The free strips: the whole area without a window in it, else right of it and below it.
  QSize strips[2] = {area.size(), {}};
  if (!taken.isEmpty() && taken.intersects(area)) {
    strips[0] = {area.right() - taken.right(), area.height()};
    strips[1] = {area.width(), area.bottom() - taken.bottom()};
  }
  std::optional<QRect> best;
  for (const QSize strip : strips) {
    const QSize fit = size.boundedTo(strip);
    if (fit.width() < minimum.width() || fit.height() < minimum.height()) continue;
    if (best && int64_t(best->width()) * best->height() >= int64_t(fit.width()) * fit.height()) continue;
    best = QRect(QPoint(area.right() + 1 - fit.width(), area.bottom() + 1 - fit.height()), fit);
  }
  return best;
}

QPoint FirstRunToolPlace(const QRect& main, const QRect& area, QSize size, const QRect& desk) {
  const int y = std::max(desk.top(), std::min(area.top(), desk.bottom() + 1 - size.height()));
  if (main.right() + size.width() <= desk.right()) return {main.right() + 1, y};
  if (main.left() - size.width() >= desk.left()) return {main.left() - size.width(), y};
  const QPoint corner(area.right() + 1 - size.width(), area.bottom() + 1 - size.height());
  return {std::max(desk.left(), std::min(corner.x(), desk.right() + 1 - size.width())),
          std::max(desk.top(), std::min(corner.y(), desk.bottom() + 1 - size.height()))};
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

QRect MainWindowOnDesk() {
  const QWidget* main = MainLink().Window.data();
  return main ? main->frameGeometry() : QRect();
}

namespace {

// Waits for the show event of its window, then runs its function once the
// event loop comes back (the window laid out) and goes.
class TShownCall : public QObject {
public:
  TShownCall(QWidget* window, std::function<void()> f) : QObject(window), f_(std::move(f)) {
    window->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (watched == parent() && e->type() == QEvent::Show) {
      watched->removeEventFilter(this);
      QTimer::singleShot(0, parent(), std::move(f_));
      deleteLater();
    }
    return false;
  }

private:
  std::function<void()> f_;
};

}  // namespace

void AfterShown(QWidget* window, std::function<void()> f) {
  if (!window) return;
  if (window->isVisible())
    QTimer::singleShot(0, window, std::move(f));
  else
    new TShownCall(window, std::move(f));
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
