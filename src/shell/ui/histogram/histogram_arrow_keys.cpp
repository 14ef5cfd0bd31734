#include "shell/ui/histogram/histogram_arrow_keys.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "core/settings.h"

namespace astrelon {

namespace {

int KeyIndex(int key) {
  switch (key) {
    case Qt::Key_Left: return 0;
    case Qt::Key_Right: return 1;
    case Qt::Key_Up: return 2;
    case Qt::Key_Down: return 3;
    default: return -1;
  }
}

constexpr std::array<QPoint, 4> Steps = {QPoint(-1, 0), QPoint(1, 0), QPoint(0, -1), QPoint(0, 1)};
constexpr int HeldTicks = 7;

}  // namespace

THistogramArrowKeys::THistogramArrowKeys(QObject* parent) : QObject(parent) {
  lastScreen_ = QCursor::pos();
  if (qApp) qApp->installEventFilter(this);
}

THistogramArrowKeys::~THistogramArrowKeys() {
  if (qApp) qApp->removeEventFilter(this);
}

bool THistogramArrowKeys::eventFilter(QObject* watched, QEvent* e) {
  // A key event passed on to parent widgets comes by again; pressing and
  // releasing twice changes nothing.
  if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
    const auto* k = static_cast<QKeyEvent*>(e);
    const int i = KeyIndex(k->key());
    if (i >= 0 && !k->isAutoRepeat()) {
      TKeyState& s = keys_[size_t(i)];
      if (e->type() == QEvent::KeyPress) {
        s.Down = true;
        s.Fresh = true;
      } else {
        s.Down = false;
      }
    }
  }
  return QObject::eventFilter(watched, e);
}

QPoint THistogramArrowKeys::Pointer() {
  const QPoint screen = QCursor::pos();
  if (screen != lastScreen_) {  // the user moved the pointer: it counts as it is
    offset_ = {};
    lastScreen_ = screen;
  }
  return screen + offset_;
}

void THistogramArrowKeys::Tick(const std::function<bool(QPoint)>& overTarget) {
  QPoint step;
  for (size_t i = 0; i < keys_.size(); ++i) {
    TKeyState& s = keys_[i];
    if (s.Fresh) {
      s.Fresh = false;
      s.Ticks = 0;
      step += Steps[i];
    } else if (s.Down) {
      if (++s.Ticks >= HeldTicks) step += Steps[i];
    }
  }
  if (step.isNull() || !Options.ArrowKeys) return;
  if (overTarget && !overTarget(Pointer())) return;
  MovePointer(step);
}

void THistogramArrowKeys::MovePointer(QPoint step) {
  const QPoint target = Pointer() + step;
  QCursor::setPos(target);
  const QPoint screen = QCursor::pos();
  lastScreen_ = screen;
  if (screen == target) {
    offset_ = {};
    return;
  }
  offset_ = target - screen;
  QWidget* w = QApplication::widgetAt(target);
  if (!w) return;
  const QPointF local = w->mapFromGlobal(QPointF(target));
  QMouseEvent move(QEvent::MouseMove, local, QPointF(target), Qt::NoButton, QGuiApplication::mouseButtons(),
                   QGuiApplication::keyboardModifiers());
  QApplication::sendEvent(w, &move);
}

}  // namespace astrelon
