// Adding, subtracting, minimum and maximum of two images from the menu.
#include "registration/ui/two_image_commands.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>

#include "../ui_windows/window_fixture.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {
namespace {

class TwoImageCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterTwoImageCommands();
  }
  static std::vector<float> Values(int slot) {
    const TPlane& p = Store.Image[size_t(slot)].Planes[1];
    return {p.begin(), p.end()};
  }
};

TEST_F(TwoImageCommandsTest, AddingACopyWithoutMarksDoublesTheImage) {
  Open(1, 8, 6);
  Store.Image[1].Planes[1][5] = BlankPixel;
  UpdateMinMax(1);
  Open(2, 8, 6);
  Store.Image[2].Planes[1] = Store.Image[1].Planes[1];
  Store.Display[1].Black = 2;
  Store.Display[1].White = 10;
  Store.Display[2].Black = 3;
  Store.Display[2].White = 20;
  ActivateImageWindow(1);
  EXPECT_TRUE(RunMenuCommand("Bildaddieren1"));  // two windows: no chooser
  QApplication::processEvents();
  ASSERT_TRUE(Store.HasWindow[3]);
  const std::vector<float> a = Values(1), r = Values(3);
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(r[i], i == 5 ? BlankPixel : 2 * a[i]) << i;
  EXPECT_EQ(HistoryText(3), "Add Bild");
  const TDisplayRecord& d = Store.Display[3];
  EXPECT_EQ(d.Black, 5);
  EXPECT_EQ(d.White, 30);
  EXPECT_LE(d.RangeLow, 0);
  EXPECT_GE(d.RangeHigh, 30);
  EXPECT_EQ(Values(1), a);  // the source stays
}

TEST_F(TwoImageCommandsTest, TheChooserNamesTheSecondImageAndCancelMakesNothing) {
  for (int s = 1; s <= 3; ++s) Open(s, 5, 4);
  Store.Image[3].Planes[1].assign(20, 100);
  ActivateImageWindow(1);
  auto title = std::make_shared<QString>();
  WhenModal([title](QWidget* w) {
    auto* form = qobject_cast<TForm4*>(w);
    ASSERT_NE(form, nullptr);
    *title = form->windowTitle();
    form->ListBox1->setCurrentRow(1);  // slot 3
    form->Button1->click();
  });
  EXPECT_TRUE(RunMenuCommand("Bildsubtrahieren1"));
  QApplication::processEvents();
  EXPECT_EQ(*title, "Welches Bild subtrahieren:");
  ASSERT_TRUE(Store.HasWindow[4]);
  const std::vector<float> a = Values(1), r = Values(4);
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(r[i], a[i] - 100);
  EXPECT_EQ(HistoryText(4), "Sub Bild");

  ActivateImageWindow(1);
  WhenModal([](QWidget* w) { qobject_cast<TForm4*>(w)->Button2->click(); });
  EXPECT_TRUE(RunMenuCommand("Maximum1"));
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[5]);
}

TEST_F(TwoImageCommandsTest, MinimumAndMaximumKeepTheValidPixel) {
  Open(1, 4, 3);
  Open(2, 4, 3);
  Store.Image[1].Planes[1][0] = BlankPixel;
  Store.Image[2].Planes[1][1] = BlankPixel;
  for (const char* item : {"Minimum1", "Maximum1"}) {
    ActivateImageWindow(1);
    const int result = FindFreeSlot();
    EXPECT_TRUE(RunMenuCommand(item));
    QApplication::processEvents();
    ASSERT_TRUE(Store.HasWindow[size_t(result)]) << item;
    const std::vector<float> r = Values(result);
    EXPECT_EQ(r[0], Store.Image[2].Planes[1][0]) << item;
    EXPECT_EQ(r[1], Store.Image[1].Planes[1][1]) << item;
    EXPECT_EQ(HistoryText(result), std::string(item).substr(0, 3) + " Bild");
    CloseImageSlot(result);
    QApplication::processEvents();
  }
}

}  // namespace
}  // namespace astrelon::test
