// Where windows start: a prompt or tool window beside what it belongs to, and a
// new image window moved into the image area so that its picture is not cut.
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "shell/stamps/line_marking.h"
#include "shell/ui/dialogs/line_prompt.h"
#include "shell/ui/menu/menu_commands.h"
#include "shell/ui/windows/mouse_tools.h"
#include "shell/ui/windows/window_placement.h"
#include "window_fixture.h"

namespace astrelon {
namespace {

TEST(WindowPlacement, BesideTheAnchorWhereThereIsRoom) {
  const QRect desk(0, 0, 1000, 700);
  const struct {
    QRect anchor;
    QSize size;
    QPoint want;
  } cases[] = {
      {{100, 50, 300, 200}, {250, 80}, {400, 50}},    // right of it
      {{600, 50, 300, 200}, {250, 80}, {350, 50}},    // no room right: left of it
      {{0, 0, 1000, 700}, {250, 80}, {750, 0}},       // no room either side: its top-right corner
      {{100, 650, 300, 200}, {250, 80}, {400, 620}},  // kept on the desk
  };
  for (const auto& c : cases) EXPECT_EQ(PlaceBeside(c.anchor, c.size, desk), c.want) << c.anchor.x();
  // A new window is moved up and left only as far as its size needs.
  EXPECT_EQ(NewWindowPlace({40, 300}, {300, 200}, {800, 600}), QPoint(40, 300));
  EXPECT_EQ(NewWindowPlace({40, 560}, {300, 200}, {800, 600}), QPoint(40, 400));
  EXPECT_EQ(NewWindowPlace({700, 560}, {900, 700}, {800, 600}), QPoint(0, 0));
}

class PlacementWindowTest : public test::WindowTest {
protected:
  void SetUp() override {
    test::WindowTest::SetUp();
    static const bool registered = [] {
      RegisterMouseToolCommands();
      return true;
    }();
    (void)registered;
    ClearLineMarking();
    LinePrompt = {};
  }
  void TearDown() override {
    if (TForm20* prompt = LinePromptWindow()) prompt->close();
    QApplication::processEvents();
    ClearLineMarking();
    test::WindowTest::TearDown();
  }
};

// A large image opened where the area's next free place lies far right (beside
// a large and a small window) still shows its picture at the fitted zoom, not a strip.
TEST_F(PlacementWindowTest, NewWindowOfALargeImageShowsItsPicture) {
  Settings.ZoomEntry = 0;  // Autozoom
  Open(1, 1500, 1000);
  Open(2, 60, 40);
  TMDIChild* w = Open(3, 3000, 2000);
  ASSERT_NE(w, nullptr);
  const QRect area(QPoint(0, 0), area_->viewport()->size());
  EXPECT_TRUE(area.contains(w->geometry())) << w->geometry().x() << " " << w->geometry().width();
  const int z = Store.Display[3].ZoomPercent;
  EXPECT_GE(w->Image1->height(), 2000 * z / 100);
  EXPECT_GE(w->Image1->width(), 3000 * z / 100);
}

// The line prompt shows its whole instruction, opens beside the image window and
// takes Return as "Ok" once the line is marked.
TEST_F(PlacementWindowTest, LinePromptFitsItsTextBesideTheImageAndTakesReturn) {
  TMDIChild* w = Open(1, 40, 30);
  ShowLinePrompt(2, {});  // two lines: the longest instruction
  TForm20* prompt = LinePromptWindow();
  ASSERT_NE(prompt, nullptr);
  QApplication::processEvents();
  QLabel* label = prompt->Label1;
  EXPECT_GE(label->height(), label->heightForWidth(label->width()));
  EXPECT_GE(prompt->width(), 277);
  EXPECT_TRUE(prompt->Button1->isDefault());
  const QRect image(w->mapToGlobal(QPoint(0, 0)), w->size());
  EXPECT_FALSE(prompt->frameGeometry().intersects(image));
  EXPECT_LE(std::abs(prompt->frameGeometry().top() - image.top()), 40);
  prompt->close();
  QApplication::processEvents();

  ASSERT_TRUE(RunMenuCommand("BildliniealsDiagrammanzeigen1"));
  prompt = LinePromptWindow();
  ASSERT_NE(prompt, nullptr);
  QTest::keyClick(prompt, Qt::Key_Return);  // no line yet: nothing
  EXPECT_EQ(LinePromptWindow(), prompt);
  EXPECT_EQ(LinePrompt.OkPressed, 0);
  EnableLinePromptOk();
  QTest::keyClick(prompt, Qt::Key_Return);
  EXPECT_EQ(LinePrompt.OkPressed, 1);
}

}  // namespace
}  // namespace astrelon
