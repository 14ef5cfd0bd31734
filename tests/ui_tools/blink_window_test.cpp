// The blink window: its start from the menu, blinking, the list, brightness,
// the interval, shifting by mouse and arrow pad, and following the image windows.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <vector>

#include "filters/ui/radio_group.h"
#include "shell/ui/blink/blink_window.h"
#include "shell/ui/controls/up_down.h"
#include "shell/ui/histogram/histogram_window.h"
#include "shell/ui/menu/menu_commands.h"
#include "tools_fixture.h"

namespace astrelon {
namespace {

class BlinkWindowTest : public test::ToolWindowTest {
protected:
  void SetUp() override {
    ToolWindowTest::SetUp();
    RegisterBlinkCommands();
  }
  void TearDown() override {
    if (TForm25* f = BlinkWindow()) delete f;
    ToolWindowTest::TearDown();
  }
  // Three images; the blink window started on image 1.
  TForm25* Start() {
    Open(1);
    Open(2);
    Open(3);
    Activate(1);
    EXPECT_TRUE(RunMenuCommand("blinken1"));
    QApplication::processEvents();
    TForm25* f = BlinkWindow();
    EXPECT_NE(f, nullptr);
    return f;
  }
  // Entry k (0-based) takes the combo-box item of a slot.
  static void Choose(TForm25* f, int k, int slot) {
    f->RadioGroup1->SetItemIndex(k);
    f->RadioGroup1Click();
    const auto it = std::find(f->ListSlots.begin(), f->ListSlots.end(), slot);
    f->ComboBox1Select(it == f->ListSlots.end() ? int(f->ListSlots.size()) - 1 : int(it - f->ListSlots.begin()));
  }
  static void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton b) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), b,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(b), Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
};

TEST_F(BlinkWindowTest, MenuStartTakesTheActiveAndTheOtherWindow) {
  Open(1);
  EXPECT_TRUE(RunMenuCommand("blinken1"));
  EXPECT_EQ(BlinkWindow(), nullptr);  // a single window: nothing
  Open(2);
  Activate(2);
  ASSERT_TRUE(RunMenuCommand("blinken1"));
  TForm25* f = BlinkWindow();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(f->isVisible());
  EXPECT_EQ(f->Entries[0].Slot, 2);
  EXPECT_EQ(f->Entries[1].Slot, 1);
  EXPECT_EQ(f->ComboBox1->count(), 3);  // two names and the blank item
  EXPECT_EQ(f->ComboBox1->itemText(0), "bild_1.fit");
  EXPECT_EQ(f->ComboBox1->currentIndex(), 1);
  EXPECT_EQ(f->Entries[0].Bitmap.size(), ImageWindow(2)->Image1->size());
  EXPECT_TRUE(f->Image1->isVisible());
  EXPECT_EQ(f->windowTitle(), "Bilder blinken");
}

TEST_F(BlinkWindowTest, BlinksTheFilledEntriesInTurn) {
  TForm25* f = Start();
  EXPECT_EQ(f->Entries[1].Slot, -1);  // three windows: no other one
  Choose(f, 2, 3);
  f->RadioGroup1->SetItemIndex(0);
  for (int i = 0; i < 40; ++i) f->UpDown3->Down->click();
  EXPECT_EQ(f->Label4->text(), "0.05 sek");
  EXPECT_EQ(f->Timer1->interval(), 50);
  f->CheckBox2->setChecked(true);
  std::vector<int> seen{f->Current()};
  for (int i = 0; i < 500 && seen.size() < 5; ++i) {
    QTest::qWait(10);
    if (f->Current() != seen.back()) seen.push_back(f->Current());
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 2, 0, 2, 0}));
  f->CheckBox2->setChecked(false);
  EXPECT_FALSE(f->Timer1->isActive());

  // The blank item empties an entry: blinking stays on the one left.
  Choose(f, 2, -1);
  EXPECT_EQ(f->Entries[2].Slot, -1);
  EXPECT_FALSE(f->Image1->isVisible());
  f->Timer1Timer();
  EXPECT_EQ(f->Current(), 0);
  f->Timer1Timer();
  EXPECT_EQ(f->Current(), 0);

  f->UpDown3->SetPosition(40);
  f->UpDown3->Up->click();
  EXPECT_EQ(f->Label4->text(), "2.00 sek");
  EXPECT_EQ(f->Timer1->interval(), 2000);
}

TEST_F(BlinkWindowTest, BrightnessSaturatesAndAFreshPictureResetsIt) {
  TForm25* f = Start();
  const QImage before = f->Entries[0].Bitmap;
  const int w = before.width();
  ASSERT_EQ(qRed(before.pixel(w - 1, 0)), 255);
  const int mid = qRed(before.pixel(w / 2, 0));
  for (int i = 0; i < 3; ++i) f->UpDown4->Up->click();
  EXPECT_EQ(f->Label6->text(), "+3");
  for (int i = 0; i < 3; ++i) f->UpDown4->Down->click();
  EXPECT_EQ(f->Label6->text(), "+0");
  const QImage& after = f->Entries[0].Bitmap;
  EXPECT_EQ(qRed(after.pixel(w - 1, 0)), 252);
  EXPECT_EQ(qGreen(after.pixel(w - 1, 0)), 252);
  EXPECT_EQ(qRed(after.pixel(w / 2, 0)), mid);
  f->UpDown4->Down->click();
  EXPECT_EQ(f->Label6->text(), "-1");
  // The histogram window re-rendered the slot: a fresh copy at offset 0.
  HistogramDependants().RedrawBlinkEntries(1);
  EXPECT_EQ(f->Label6->text(), "+0");
  EXPECT_EQ(qRed(f->Entries[0].Bitmap.pixel(w - 1, 0)), 255);
}

TEST_F(BlinkWindowTest, MouseAndArrowPadShiftThePictures) {
  TForm25* f = Start();
  Choose(f, 1, 2);
  // Left button: all entries move; right button: only the current one.
  Mouse(f->Image1, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
  Mouse(f->Image1, QEvent::MouseButtonRelease, {15, 25}, Qt::LeftButton);
  for (const TBlinkEntry& e : f->Entries) EXPECT_EQ(e.Position, QPoint(10, 20));
  EXPECT_EQ(f->Image1->pos(), QPoint(10, 20));
  Mouse(f->Image1, QEvent::MouseButtonPress, {5, 5}, Qt::RightButton);
  Mouse(f->Image1, QEvent::MouseButtonRelease, {2, 9}, Qt::RightButton);
  EXPECT_EQ(f->Entries[1].Position, QPoint(7, 24));
  EXPECT_EQ(f->Entries[0].Position, QPoint(10, 20));

  const QImage pad = BlinkPadPicture();
  EXPECT_EQ(BlinkPadDirection(pad, {10, 20}), QPoint(-1, 0));
  EXPECT_EQ(BlinkPadDirection(pad, {40, 50}), QPoint(0, 1));
  EXPECT_EQ(BlinkPadDirection(pad, {20, 10}), QPoint(0, -1));
  EXPECT_EQ(BlinkPadDirection(pad, {50, 40}), QPoint(1, 0));
  EXPECT_EQ(BlinkPadDirection(pad, {0, 0}), QPoint());  // outside the disc
  EXPECT_EQ(BlinkPadDirection(pad, {20, 20}), QPoint());  // the light diagonal

  // The pad shows near Panel2's corner; a press nudges at once and repeats.
  QMouseEvent move(QEvent::MouseMove, QPointF(30, 30), QPointF(f->Panel2->mapToGlobal(QPoint(30, 30))), Qt::NoButton,
                   Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(f->Panel2, &move);
  ASSERT_TRUE(f->Image2->isVisible());
  Mouse(f->Image2, QEvent::MouseButtonPress, {50, 40}, Qt::LeftButton);
  EXPECT_EQ(f->Entries[1].Position, QPoint(8, 24));
  EXPECT_EQ(f->Timer2->interval(), 750);
  f->Timer2Timer();
  EXPECT_EQ(f->Entries[1].Position, QPoint(9, 24));
  EXPECT_EQ(f->Timer2->interval(), 200);
  Mouse(f->Image2, QEvent::MouseButtonRelease, {50, 40}, Qt::LeftButton);
  EXPECT_FALSE(f->Timer2->isActive());
  QMouseEvent far(QEvent::MouseMove, QPointF(200, 150), QPointF(f->Panel2->mapToGlobal(QPoint(200, 150))),
                  Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(f->Panel2, &far);
  EXPECT_FALSE(f->Image2->isVisible());
}

TEST_F(BlinkWindowTest, FollowsTheImageWindowsAndIsFreedWhenHidden) {
  TForm25* f = Start();
  Choose(f, 1, 2);
  Choose(f, 2, 3);
  Open(4);
  EXPECT_EQ(f->ComboBox1->count(), 5);
  ImageWindow(2)->close();
  QApplication::processEvents();
  EXPECT_EQ(f->Entries[1].Slot, -1);
  EXPECT_EQ(f->Entries[2].Slot, 3);
  EXPECT_EQ(f->Entries[2].ListIndex, 1);
  EXPECT_EQ(f->ComboBox1->count(), 4);

  f->UpDown3->Down->click();
  const int position = f->UpDown3->Position();
  f->Button2->click();
  QApplication::processEvents();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(BlinkWindow(), nullptr);
  EXPECT_EQ(Settings.BlinkTimeTenths, position);
}

}  // namespace
}  // namespace astrelon
