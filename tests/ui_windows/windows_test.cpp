// Image windows: creation, sizing, zoom, the close guard and the window's picture.
#include <QLabel>
#include <QProgressBar>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "core/language.h"
#include "shell/display/renderer.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/windows/window_coordinates.h"
#include "shell/windows/zoom_steps.h"
#include "window_fixture.h"

namespace astrelon::test {
namespace {

TEST_F(WindowTest, ShowImageWindowRegistersAndRendersTheSlot) {
  TMDIChild* w = Open(3, 40, 30);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->Tag, 3);
  EXPECT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(Store.Window[3], static_cast<TImageWindowLink*>(w));
  EXPECT_EQ(Store.Display[3].ZoomPercent, 100);
  EXPECT_EQ(w->Image1->size(), QSize(40, 30));
  EXPECT_FALSE(w->Image1->Picture().isNull());
  EXPECT_EQ(w->ZoomPanel->text(), "Zoom: 100%");
  EXPECT_EQ(w->SizePanel->text(), "Größe: 40 x 30");
  EXPECT_TRUE(w->windowTitle().contains("test_3.fit"));
  // The window fits the picture: the scroll box shows all of it.
  EXPECT_GE(w->ScrollBox1->viewport()->width(), 40);
  EXPECT_GE(w->ScrollBox1->viewport()->height(), 30);
  EXPECT_FALSE(w->ScrollBox1->horizontalScrollBar()->isVisible());
  area_->setActiveSubWindow(w);
  EXPECT_EQ(FindActiveSlot(), 3);
  EXPECT_EQ(CurrentWindowSlot, 3);
  // A second call for the same slot makes no second window.
  CreateMDIChild(3);
  EXPECT_EQ(area_->subWindowList().size(), 1);
}

TEST_F(WindowTest, AutozoomAndFixedZoomWithTheStepLimit) {
  Settings.ZoomEntry = 0;  // Autozoom
  TMDIChild* w = Open(1, 3000, 2000);
  ASSERT_NE(w, nullptr);
  UpdateWindowArea();
  const int expected = AutozoomPercent(3000, 2000, MainWindowArea.FreeWidth - MainWindowArea.FrameWidth,
                                       MainWindowArea.FreeHeight - MainWindowArea.FrameHeight);
  EXPECT_EQ(Store.Display[1].ZoomPercent, expected);
  EXPECT_LE(expected, 35);
  EXPECT_EQ(w->Image1->size(), QSize(3000 * expected / 100, 2000 * expected / 100));
  // Fixed 400 % for a very wide image stops at the step limit (3270000 / 10000 = 327).
  Settings.ZoomEntry = 1;
  Open(2, 10000, 4);
  EXPECT_EQ(Store.Display[2].ZoomPercent, 280);
  // A fixed zoom from the list reaches every open window; Autozoom changes none.
  SetZoomCode(7);  // 50 %
  EXPECT_EQ(Store.Display[1].ZoomPercent, 50);
  EXPECT_EQ(Store.Display[2].ZoomPercent, 50);
  EXPECT_EQ(w->Image1->size(), QSize(1500, 1000));
  EXPECT_EQ(w->ZoomPanel->text(), "Zoom: 50%");
  SetZoomCode(0);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 50);
  SetZoomCode(11);  // outside the list: nothing
  EXPECT_EQ(Settings.ZoomEntry, 0);
}

TEST_F(WindowTest, LargeWindowIsCutToTheFreeAreaWithRoomForScrollBars) {
  TMDIChild* w = Open(1, 2000, 1500);
  ASSERT_NE(w, nullptr);
  const QSize free = area_->viewport()->size();
  EXPECT_LE(w->x() + w->width(), std::max(free.width(), w->minimumWidth()));
  EXPECT_LE(w->y() + w->height(), std::max(free.height(), w->minimumHeight()));
  EXPECT_TRUE(w->ScrollBox1->horizontalScrollBar()->isVisible());
  EXPECT_TRUE(w->ScrollBox1->verticalScrollBar()->isVisible());
}

// The image point under the cursor stays under it when zooming in and out.
TEST_F(WindowTest, ZoomAtTheCursorKeepsTheImagePoint) {
  TMDIChild* w = Open(1, 1200, 900);
  ASSERT_NE(w, nullptr);
  w->ScrollBox1->horizontalScrollBar()->setValue(100);
  w->ScrollBox1->verticalScrollBar()->setValue(60);
  const QPoint cursor = w->ScrollBox1->viewport()->mapToGlobal(QPoint(150, 120));
  auto imagePoint = [&] {
    const int z = Store.Display[1].ZoomPercent;
    const QPoint c = cursor - w->Image1->mapToGlobal(QPoint(0, 0));
    return QPointF(c.x() * 100.0 / z, c.y() * 100.0 / z);
  };
  const QPointF before = imagePoint();
  ZoomAtPoint(1, cursor, true);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 140);
  QPointF after = imagePoint();
  EXPECT_NEAR(after.x(), before.x(), 1.0);
  EXPECT_NEAR(after.y(), before.y(), 1.0);
  ZoomAtPoint(1, cursor, true);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 200);
  after = imagePoint();
  EXPECT_NEAR(after.x(), before.x(), 1.0);
  EXPECT_NEAR(after.y(), before.y(), 1.0);
  ZoomAtPoint(1, cursor, false);
  ZoomAtPoint(1, cursor, false);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 100);
  after = imagePoint();
  EXPECT_NEAR(after.x(), before.x(), 1.0);
  EXPECT_NEAR(after.y(), before.y(), 1.0);
  // At 70 % the whole picture fits: no scroll bar is left to move.
  ZoomAtPoint(1, cursor, false);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 70);
  QApplication::processEvents();
  EXPECT_FALSE(w->ScrollBox1->horizontalScrollBar()->isVisible());
  // The wheel over the picture zooms too.
  QWheelEvent wheel(QPointF(150, 120), QPointF(cursor), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(w->ScrollBox1->viewport(), &wheel);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 100);
}

TEST_F(WindowTest, ZoomStopsAtTheEndsAndAtTheStepLimit) {
  Open(1, 20, 20);
  Store.Display[1].ZoomPercent = 400;
  ZoomAtPoint(1, QPoint(0, 0), true);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 400);
  Store.Display[1].ZoomPercent = 17;
  ZoomAtPoint(1, QPoint(0, 0), false);
  EXPECT_EQ(Store.Display[1].ZoomPercent, 17);
  Open(2, 12000, 3);  // step limit 270 -> 200
  Store.Display[2].ZoomPercent = 200;
  ZoomAtPoint(2, QPoint(0, 0), true);
  EXPECT_EQ(Store.Display[2].ZoomPercent, 200);
}

TEST_F(WindowTest, PictureIsPaintedOnlyWhereExposedAtHighZoom) {
  // 8000 x 600 at 400 % is a 32000 pixel wide control; painting it must only
  // touch the visible part of the 8000-pixel bitmap.
  TMDIChild* w = Open(1, 8000, 600);
  ASSERT_NE(w, nullptr);
  Store.Display[1].ZoomPercent = 400;
  RedrawWindowZoom(1);
  EXPECT_EQ(w->Image1->width(), 32000);
  EXPECT_EQ(w->Image1->Picture().width(), 8000);
  w->ScrollBox1->horizontalScrollBar()->setValue(16000);
  const QImage shot = w->ScrollBox1->viewport()->grab().toImage();
  ASSERT_FALSE(shot.isNull());
  // Value x + 2y with black 0 and white 9197 (linear): the middle of the view
  // shows image column (16000 + half the view) / 4 of row 0.
  const int column = (16000 + shot.width() / 2) / 4;
  const QColor c = shot.pixelColor(shot.width() / 2, 1);
  EXPECT_NEAR(c.red(), column * 255.0 / 9197, 3);
  EXPECT_EQ(c.red(), c.green());
}

TEST_F(WindowTest, CloseGuardDuringARunningOperation) {
  TMDIChild* src = Open(1, 10, 10);
  Open(2, 10, 10);
  SlotPair = {1, 2};
  SetOperationActive(true);
  EXPECT_TRUE(src->BorderIconsLocked());
  EXPECT_TRUE(src->isVisible());
  EXPECT_FALSE(src->close());
  EXPECT_EQ(AbortRequested.load(), 1);
  EXPECT_TRUE(Store.InUse[1]);
  EXPECT_TRUE(Store.HasWindow[1]);
  EXPECT_EQ(Store.Image[1].Planes[1].size(), 100u);
  // A window outside the pair closes.
  TMDIChild* other = Open(3, 10, 10);
  EXPECT_TRUE(other->close());
  EXPECT_FALSE(Store.InUse[3]);
  // While the batch runs the guard does not apply.
  BatchRunning = 1;
  EXPECT_TRUE(ImageWindow(2)->close());
  EXPECT_FALSE(Store.HasWindow[2]);
  BatchRunning = 0;
  SetOperationActive(false);
  EXPECT_FALSE(src->BorderIconsLocked());
  AbortRequested = 0;
  EXPECT_TRUE(src->close());
  EXPECT_FALSE(Store.InUse[1]);
  EXPECT_FALSE(Store.HasWindow[1]);
  EXPECT_TRUE(Store.Image[1].Planes[1].empty());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(area_->subWindowList().isEmpty());
}

TEST_F(WindowTest, MouseLockLeavesAnOperationsWindowsLocked) {
  TMDIChild* pair = Open(1, 10, 10);
  TMDIChild* free = Open(2, 10, 10);
  // A window of its own: locked for the mouse operation, unlocked after it.
  LockWindowBorderIcons(2);
  EXPECT_TRUE(free->BorderIconsLocked());
  UnlockWindowBorderIcons(2);
  EXPECT_FALSE(free->BorderIconsLocked());
  UnlockWindowBorderIcons(2);  // without a lock: nothing
  EXPECT_FALSE(free->BorderIconsLocked());
  // The pair of a running operation has no minimise icon: the mouse lock and its
  // unlock leave it without its close icon.
  SlotPair = {1, -1};
  SetOperationActive(true);
  LockWindowBorderIcons(1);
  UnlockWindowBorderIcons(1);
  EXPECT_TRUE(pair->BorderIconsLocked());
  SetOperationActive(false);
  EXPECT_FALSE(pair->BorderIconsLocked());
  SlotPair = {};
}

TEST_F(WindowTest, TranslatedSizeZoomAndAutozoomTexts) {
  // Sections 1..10 in order; "Größe" is section 10 [1], "Zoom" section 10 [2],
  // "Autozoom" section 2 [9.1].
  std::vector<std::string> lines{"[1_Menu", "[2_Toolbar", "[9.1]Auto"};
  for (int s = 3; s <= 9; ++s) lines.push_back("[" + std::to_string(s) + "_x");
  lines.insert(lines.end(), {"[10_Window", "[1]Size", "[2]Scale"});
  LoadLanguageFile(lines);
  QString caption;
  MainLink().SetZoomCaption = [&caption](const QString& c) { caption = c; };
  TMDIChild* w = Open(1, 12, 7);
  EXPECT_EQ(w->SizePanel->text(), "Size: 12 x 7");
  EXPECT_EQ(w->ZoomPanel->text(), "Scale: 100%");
  SetZoomCode(0);
  EXPECT_EQ(caption, "Auto");
  SetZoomCode(3);
  EXPECT_EQ(caption, "200%");
  EXPECT_EQ(w->ZoomPanel->text(), "Scale: 200%");
  UnloadLanguageFile();
  MainLink().SetZoomCaption = nullptr;
  SetZoomCode(7);
  EXPECT_EQ(w->ZoomPanel->text(), "Zoom: 50%");
}

TEST_F(WindowTest, CloseImageSlotWithAndWithoutWindow) {
  Open(1, 8, 8);
  CurrentWindowSlot = 1;
  CloseImageSlot(1);
  EXPECT_FALSE(Store.InUse[1]);
  EXPECT_FALSE(Store.HasWindow[1]);
  EXPECT_EQ(CurrentWindowSlot, -1);
  MakeImage(4, 8, 8);  // in use, no window
  CloseImageSlot(4);
  EXPECT_FALSE(Store.InUse[4]);
  EXPECT_TRUE(Store.Image[4].Planes[1].empty());
  CloseImageSlot(-1);
  // During a batch the closed window's position is remembered for the next one.
  TMDIChild* w = Open(5, 8, 8);
  w->move(33, 44);
  BatchRunning = 1;
  CloseImageSlot(5);
  EXPECT_TRUE(RememberedWindowPosition.Valid);
  TMDIChild* next = Open(6, 8, 8);
  EXPECT_EQ(next->pos(), QPoint(33, 44));
  BatchRunning = 0;
  RememberedWindowPosition = {};
}

TEST_F(WindowTest, ProgressBarOfTheWindow) {
  TMDIChild* w = Open(1, 10, 100);
  ShowProgress(1, 1, 1, 50, false, false, false, false, "Gauss");
  EXPECT_TRUE(w->ProgressBar1->isVisible());
  EXPECT_EQ(w->ProgressBar1->value(), 50);
  EXPECT_EQ(w->Label2->text(), "Gauss");
  HideProgress(1);
  EXPECT_FALSE(w->ProgressBar1->isVisible());
}

TEST_F(WindowTest, ImageChangedRebuildsThePicture) {
  TMDIChild* w = Open(1, 4, 4);
  const QRgb before = w->Image1->Picture().pixel(0, 0);
  Store.Image[1].Planes[1][0] = Store.Display[1].White;
  ImageChanged(1);
  EXPECT_NE(w->Image1->Picture().pixel(0, 0), before);
  EXPECT_EQ(Store.Display[1].Changed, 0);
}

}  // namespace
}  // namespace astrelon::test
