// Arrow keys as a fine pointer: once at a fresh press, again after 7 further
// ticks while held, then every tick; nothing away from images and shapes or
// with the setting off.
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "core/settings.h"
#include "shell/ui/histogram/histogram_arrow_keys.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

void Key(QWidget* w, QEvent::Type type, int key) {
  QKeyEvent e(type, key, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(HistogramArrowKeys, FreshPressHeldKeyAndRelease) {
  const uint8_t saved = Options.ArrowKeys;
  Options.ArrowKeys = 1;
  QWidget target;
  target.show();
  THistogramArrowKeys keys(nullptr);
  bool over = true;
  auto overTarget = [&over](QPoint) { return over; };
  const QPoint start = keys.Pointer();

  Key(&target, QEvent::KeyPress, Qt::Key_Right);
  keys.Tick(overTarget);
  EXPECT_EQ(keys.Pointer(), start + QPoint(1, 0));
  for (int i = 1; i <= 6; ++i) keys.Tick(overTarget);  // held: waits
  EXPECT_EQ(keys.Pointer(), start + QPoint(1, 0));
  keys.Tick(overTarget);  // the 7th further tick
  keys.Tick(overTarget);
  EXPECT_EQ(keys.Pointer(), start + QPoint(3, 0));
  Key(&target, QEvent::KeyRelease, Qt::Key_Right);
  keys.Tick(overTarget);
  EXPECT_EQ(keys.Pointer(), start + QPoint(3, 0));

  // Pressed and let go between two ticks: one step.
  Key(&target, QEvent::KeyPress, Qt::Key_Up);
  Key(&target, QEvent::KeyRelease, Qt::Key_Up);
  keys.Tick(overTarget);
  EXPECT_EQ(keys.Pointer(), start + QPoint(3, -1));
  // Away from images and shapes, or with the setting off, the pointer stays.
  over = false;
  Key(&target, QEvent::KeyPress, Qt::Key_Down);
  keys.Tick(overTarget);
  over = true;
  Options.ArrowKeys = 0;
  Key(&target, QEvent::KeyPress, Qt::Key_Left);
  keys.Tick(overTarget);
  EXPECT_EQ(keys.Pointer(), start + QPoint(3, -1));
  Options.ArrowKeys = saved;
}

}  // namespace
}  // namespace astrelon::test
