// The colour commands of the main menu: camera profile and colour to grey into
// new windows.
#include <QAction>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/colour/camera_matrix_table.h"
#include "pixelops/ui/colour/color_commands.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ColorCommands : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    RegisterColorCommands();
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    EngineUi().Messages.clear();
    WindowTest::TearDown();
  }
  // A 4 x 3 colour image in a window, with the camera name in its header.
  TMDIChild* OpenColour(int slot, const std::string& camera) {
    std::vector<std::vector<float>> planes(3);
    for (int i = 0; i < 12; ++i) {
      planes[0].push_back(1000.0f + float(i));
      planes[1].push_back(2000.0f - float(i));
      planes[2].push_back(500.0f + 3.0f * float(i));
    }
    test::MakeImage(slot, 4, 3, planes, "/data/colour_" + std::to_string(slot) + ".fit");
    AppendHeaderCard(slot, QuotedCard("INSTRUME= ", camera));
    ResetDisplayRange(slot, 0);
    ShowImageWindow(slot);
    QApplication::processEvents();
    return ImageWindow(slot);
  }
  static bool HasHistory(int slot, const std::string& text) {
    for (const std::string& c : Store.Header[size_t(slot)].ActiveCards())
      if (c.starts_with("HISTORY") && c.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(ColorCommands, CameraProfileMakesANewImageOfAKnownCamera) {
  OpenColour(1, "SONY DSLR-A900");
  const std::vector<float> before(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  QAction item("Kamera RAW-Farben nach &RGB");
  ASSERT_TRUE(RunMenuCommand("KameraRAWFarbennachRGB1", &item));
  ASSERT_NE(ImageWindow(2), nullptr);
  EXPECT_TRUE(EngineUi().Messages.empty());
  EXPECT_NE(Store.Image[2].Planes[1][0], before[0]);
  EXPECT_TRUE(HasHistory(2, "Kamera RAW-Farben nach RGB"));
  EXPECT_EQ(std::vector<float>(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end()), before);
  EXPECT_EQ(SlotPair.Source, -1);
  EXPECT_EQ(SlotPair.Destination, -1);
  EXPECT_EQ(CameraMosaicPhase, 0);
}

TEST_F(ColorCommands, UnknownCameraOrGreyImageLeavesNoNewImage) {
  OpenColour(1, "Foo");
  ASSERT_TRUE(RunMenuCommand("KameraRAWFarbennachRGB1"));
  EXPECT_FALSE(Store.InUse[2]);
  Open(3, 4, 3);  // grey, active now
  AppendHeaderCard(3, QuotedCard("INSTRUME= ", "Canon EOS 5D Mark II"));
  ASSERT_TRUE(RunMenuCommand("KameraRAWFarbennachRGB1"));
  QApplication::processEvents();
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(ImageWindow(2), nullptr);
  EXPECT_EQ(EngineUi().Messages,
            (std::vector<std::string>{"Das Farbprofil oder die Kamera [INSTRUME] ist nicht vorhanden.",
                                      "Das Bild muss in Farbe sein."}));
}

TEST_F(ColorCommands, ColourToGreyOpensAGreyCopy) {
  OpenColour(1, "");
  QAction item("&Farb-Bild in s/w umwandeln");
  ASSERT_TRUE(RunMenuCommand("RGBBildnachswwandeln1", &item));
  ASSERT_NE(ImageWindow(2), nullptr);
  const TImageSlot& grey = Store.Image[2];
  EXPECT_EQ(grey.PlaneCount, 1);
  EXPECT_EQ(grey.IsColor, 0);
  EXPECT_NEAR(grey.Planes[1][0], 0.299 * 1000 + 0.587 * 2000 + 0.114 * 500, 1e-3);
  EXPECT_TRUE(HasHistory(2, "Farb-Bild in s/w umwandeln"));
  EXPECT_NE(Store.FileName[2], Store.FileName[1]);  // a copy name
  const TDisplayRecord& d = Store.Display[2];
  EXPECT_LE(d.White, d.RangeHigh);
  EXPECT_GE(d.Black, d.RangeLow);
  EXPECT_LT(d.Black, d.White);
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);

  // A grey image: nothing happens.
  ASSERT_TRUE(RunMenuCommand("RGBBildnachswwandeln1"));
  EXPECT_FALSE(Store.InUse[3]);
}

}  // namespace
}  // namespace astrelon::test
