// The dark-subtraction items and the divisions by a flat from the menu: the
// second image, the result window and its history card.
#include <QAction>
#include <QListWidget>
#include <QPushButton>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/ui/operation_frame.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/calibration/flat_division.h"
#include "qt_test_app.h"
#include "registration/ui/calibration_commands.h"
#include "shell/ui/dialogs/list_chooser.h"
#include "shell/ui/main/main_services_ui.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class CalibrationCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterCalibrationCommands();
  }
  // A w x h image of one value per plane in a window (three planes: colour).
  void OpenFilled(int slot, int w, int h, std::initializer_list<float> values) {
    Open(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    im.PlaneCount = int(values.size());
    im.IsColor = values.size() == 3;
    int p = 1;
    for (const float v : values) im.Planes[size_t(p++)].assign(size_t(w) * size_t(h), v);
    ResetDisplayRange(slot, 0);
  }
  // Runs an item with its caption and tag; with `choice` >= 0 a chooser is
  // expected: it takes that row and its title is returned.
  QString Run(const char* name, const char* caption, int tag, int choice = -1) {
    auto title = std::make_shared<QString>();
    if (choice >= 0) WhenModal([title, choice](QWidget* w) {
      auto* form = qobject_cast<TForm4*>(w);
      ASSERT_NE(form, nullptr);
      *title = form->windowTitle();
      form->ListBox1->setCurrentRow(choice);
      form->Button1->click();
    });
    QAction item(QString::fromUtf8(caption));
    item.setObjectName(name);
    item.setData(tag);
    EXPECT_TRUE(RunMenuCommand(name, &item));
    QApplication::processEvents();
    return *title;
  }
  static void CloseAll() {
    for (int s = 1; s <= MaxImageSlots; ++s)
      if (Store.InUse[size_t(s)]) CloseImageSlot(s);
    QApplication::processEvents();
  }
  static std::string History(int slot) {
    std::string text;
    for (const std::string& card : Store.Header[size_t(slot)].ActiveCards())
      if (card.rfind("HISTORY ", 0) == 0) text = card.substr(8, card.find_last_not_of(' ') - 7);
    return text;
  }
};

TEST_F(CalibrationCommandsTest, DarkItemsSubtractInANewWindow) {
  struct Item {
    const char* name;
    const char* caption;
    int tag;
    float hot;  // the result where the dark is hot
  };
  // With temperature compensation alone the hot pixel takes part in the scale
  // search and drives the factor to 0 over a flat image.
  const Item items[] = {
      {"Bildsubtraktionnormal1", "Bildsubtraktion normal", 0, -900},
      {"mitHotpixelkorrektur1", "Bildsubtraktion mit Hotpixelkorrektur", 1, 90},
      {"mitTemperaturausgleich1", "Bildsubtraktion mit Temperaturausgleich", 2, 90},
      {"mitTemperaturausgleichundHotpixelkorrektur1", "Bildsubtraktion mit Temperaturausgleich und Hotpixelkorrektur",
       3, 90},
  };
  for (const Item& item : items) {
    SCOPED_TRACE(item.caption);
    OpenFilled(1, 16, 12, {100});
    OpenFilled(2, 16, 12, {10});
    Store.Image[2].At(1, 6, 5) = 1000;  // hot
    ActivateImageWindow(1);
    EXPECT_EQ(Run(item.name, item.caption, item.tag), "");  // two windows: no chooser
    ASSERT_TRUE(Store.HasWindow[3]);
    const TImageSlot& r = Store.Image[3];
    EXPECT_EQ(r.At(1, 0, 0), 90.0f);
    EXPECT_EQ(r.At(1, 6, 5), item.hot);
    EXPECT_EQ(Store.Image[1].At(1, 0, 0), 100.0f);  // the source stays
    EXPECT_EQ(History(3), item.caption);
    EXPECT_EQ(RecentFunctionCaption(0), item.caption);
    EXPECT_EQ(SlotPair.Source, -1);
    CloseAll();
  }
}

// A dark of another size or a flat without a usable pixel: the message, no result window.
TEST_F(CalibrationCommandsTest, RefusedCalibrationImagesMakeNoResult) {
  const struct {
    const char* name;
    const char* caption;
    int w, h;
    float value;
    std::string message;
  } cases[] = {
      {"Bildsubtraktionnormal1", "Bildsubtraktion normal", 20, 15, 10, DarkSizeDiffersText(30, 20, 20, 15)},
      {"HellBilddividieren1", "(Hell-)Bild &dividieren", 30, 20, 0, FlatWithoutUsablePixelsText},
      {"HellBilddividieren1", "(Hell-)Bild &dividieren", 30, 20, BlankPixel, FlatWithoutUsablePixelsText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    OpenFilled(1, 30, 20, {100});
    OpenFilled(2, c.w, c.h, {c.value});
    ActivateImageWindow(1);
    EngineUi().Messages.clear();
    Run(c.name, c.caption, 0);
    EXPECT_EQ(CountOpenWindows(), 2);
    EXPECT_EQ(EngineUi().Messages, std::vector<std::string>{c.message});
    EXPECT_EQ(Store.Image[1].At(1, 0, 0), 100.0f);
    CloseAll();
  }
}

TEST_F(CalibrationCommandsTest, ChooserWithThreeWindowsAndTheSlotLimit) {
  OpenFilled(1, 8, 8, {100});
  OpenFilled(2, 8, 8, {50});
  OpenFilled(3, 8, 8, {4});
  ActivateImageWindow(1);
  // The chooser lists slots 2 and 3; the second row is the flat.
  Options.Scale = 0;
  EXPECT_EQ(Run("HellBilddividieren1", "(Hell-)Bild &dividieren", 0, 1), "Welches Bild dividieren:");
  ASSERT_TRUE(Store.HasWindow[4]);
  EXPECT_EQ(Store.Image[4].At(1, 3, 3), 25.0f);
  EXPECT_EQ(History(4), "(Hell-)Bild dividieren");
  Options.Scale = 1;
  ActivateImageWindow(1);
  EXPECT_EQ(Run("Hellbilddividierenautomatischskaliert1", "Hellbild dividieren - automatisch skaliert", 0, 0),
            "Welches Bild dividieren:");
  ASSERT_TRUE(Store.HasWindow[5]);
  EXPECT_EQ(History(5), "Hellbild dividieren - automatisch skaliert");
  ActivateImageWindow(1);
  EXPECT_EQ(Run("Bildsubtraktionnormal1", "Bildsubtraktion normal", 0, 0), "Welches Bild subtrahieren:");
  ASSERT_TRUE(Store.HasWindow[6]);
  EXPECT_EQ(Store.Image[6].At(1, 0, 0), 50.0f);

  // With 47 windows open a colour image needs two spare slots: nothing happens;
  // a grey image still gets its result.
  CloseAll();
  for (int s = 1; s <= 47; ++s) OpenFilled(s, 4, 4, {1});
  OpenFilled(1, 4, 4, {5, 6, 7});
  ActivateImageWindow(1);
  Run("Bildsubtraktionnormal1", "Bildsubtraktion normal", 0);
  EXPECT_EQ(CountOpenWindows(), 47);
  OpenFilled(1, 4, 4, {5});
  ActivateImageWindow(1);
  Run("Bildsubtraktionnormal1", "Bildsubtraktion normal", 0, 1);
  EXPECT_EQ(CountOpenWindows(), 48);
}

}  // namespace
}  // namespace astrelon::test
