// The automatic gradient items and "Bild maskieren" from the menu: the result
// window, its history card, and the choice of the mask image.
#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <optional>

#include "../ui_windows/window_fixture.h"
#include "core/language.h"
#include "pixelops/ui/flattening/gradient_flattening_commands.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class GradientCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterGradientFlatteningCommands();
  }
  void OpenPlane(int slot, int w, int h, const std::vector<float>& v) {
    Open(slot, w, h);
    Store.Image[size_t(slot)].Planes[1].assign(v.begin(), v.end());
    ResetDisplayRange(slot, 0);
  }
  // Runs an item; with `choice` a chooser is expected: -1 cancels it, else its row is taken.
  static bool Run(const char* name, const char* caption, std::optional<int> choice = {}) {
    auto asked = std::make_shared<bool>(false);
    if (choice) WhenModal([asked, choice](QWidget* w) {
      auto* form = qobject_cast<TForm4*>(w);
      ASSERT_NE(form, nullptr);
      *asked = form->windowTitle() == "Welches Bild als Maske nehmen:";
      if (*choice < 0) return form->Button2->click();
      form->ListBox1->setCurrentRow(*choice);
      form->Button1->click();
    });
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    EXPECT_TRUE(RunMenuCommand(name, &item));
    QApplication::processEvents();
    return *asked;
  }
  static bool HasHistory(int slot, const std::string& text) {
    const auto cards = Store.Header[size_t(slot)].ActiveCards();
    return std::find(cards.begin(), cards.end(), PadCard(FoldToAscii("HISTORY " + text))) != cards.end();
  }
};

TEST_F(GradientCommandsTest, LinearAndRadialItemsFlattenACopy) {
  std::vector<float> ramp(200 * 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 200; ++x) ramp[size_t(y) * 200 + size_t(x)] = float(x + 2 * y);
  OpenPlane(1, 200, 100, ramp);
  Store.Display[1].Black = 1000;  // a range of other values (a raw frame's)
  Store.Display[1].White = 2000;
  Run("HintergrundGradientebnenautomatisch1", "Hintergrund Gradient ebnen &automatisch");
  ASSERT_TRUE(Store.HasWindow[2]);
  for (float v : Store.Image[2].Planes[1]) ASSERT_NEAR(v, 200.0f, 1.0f);
  // The result is shown from its own levels.
  CopyImageSlot(2, 9);
  SetAutoDisplayRange(9, false);
  EXPECT_EQ(Store.Display[2].Black, Store.Display[9].Black);
  EXPECT_EQ(Store.Display[2].White, Store.Display[9].White);
  FreeSlot(9);
  EXPECT_TRUE(HasHistory(2, "Hintergrund Gradient ebnen automatisch"));
  EXPECT_EQ(RecentFunctionCaption(0), "Hintergrund Gradient ebnen automatisch");
  EXPECT_EQ(Store.Image[1].Planes[1][5], 5.0f);  // the source stays
  EXPECT_EQ(SlotPair.Source, -1);

  ActivateImageWindow(1);
  Run("Hintergrundebnennichtlinearautomatisch1", "Hintergrund ebnen nichtlinear automatisch");
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_TRUE(HasHistory(3, "Hintergund geebnet nichtlinear"));
}

TEST_F(GradientCommandsTest, MaskTakesTheOtherWindowOrTheChosenOne) {
  OpenPlane(1, 4, 1, {1, 2, 3, 4});
  OpenPlane(2, 4, 1, {0, 100, 50, 10});
  ActivateImageWindow(1);
  EXPECT_FALSE(Run("Bildmaskieren1", "Bild maskieren"));  // two windows: no chooser
  ASSERT_TRUE(Store.HasWindow[3]);
  const auto& r = Store.Image[3].Planes[1];
  EXPECT_EQ(std::vector<float>(r.begin(), r.end()), (std::vector<float>{1, BlankPixel, BlankPixel, 4}));
  EXPECT_TRUE(HasHistory(3, "Bild maskieren"));
  // Three windows: the chooser asks; a cancelled choice ends the command.
  ActivateImageWindow(1);
  EXPECT_TRUE(Run("Bildmaskieren1", "Bild maskieren", -1));
  EXPECT_FALSE(Store.InUse[4]);
  ActivateImageWindow(1);
  EXPECT_TRUE(Run("Bildmaskieren1", "Bild maskieren", 0));
  ASSERT_TRUE(Store.HasWindow[4]);
  EXPECT_EQ(Store.Image[4].Planes[1][1], BlankPixel);
}

}  // namespace
}  // namespace astrelon::test
