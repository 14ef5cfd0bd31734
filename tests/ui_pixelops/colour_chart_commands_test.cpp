// The IT8 chart, XYZ to RGB and the luminance command from the menu.
#include "pixelops/ui/colour/colour_chart_commands.h"

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ColourChartCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterColourChartCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
    ChooseChartFiles = saved_;
  }
  void Answer(const QStringList& files) {
    ChooseChartFiles = [files](bool) { return files; };
  }
  static void Run(const char* name) {
    EXPECT_TRUE(RunMenuCommand(name));
    QApplication::processEvents();
  }
  void OpenColour(int slot) {
    Open(slot, 6, 4);
    TImageSlot& im = Store.Image[size_t(slot)];
    im.IsColor = 1;
    im.PlaneCount = 3;
    for (int p = 2; p <= 3; ++p) im.Planes[size_t(p)] = im.Planes[1];
    UpdateMinMax(slot);
    ActivateImageWindow(slot);
  }

  TEngineUi ui_;
  std::function<QStringList(bool)> saved_ = ChooseChartFiles;
};

TEST_F(ColourChartCommandsTest, AChartFileOpensAWindowAnotherFileAMessage) {
  TempDir dir;
  WriteText(dir.file("a.txt"), "CGATS.17\nBEGIN_DATA\n");
  WriteText(dir.file("b.txt"), "IT8.7/2\nBEGIN_DATA\nA1         50.00  50.00  50.00\nEND_DATA\n");
  Answer({});
  Run("IT8FarbtafelD651");  // cancelled
  Answer({QString::fromStdString(dir.file("a.txt"))});
  Run("IT8FarbtafelD651");
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Das Format ist leider nicht bekannt.");
  EXPECT_FALSE(Store.InUse[1]);
  Answer({QString::fromStdString(dir.file("b.txt"))});
  Run("IT8FarbtafelD501");
  ASSERT_NE(ImageWindow(1), nullptr);
  EXPECT_EQ(Store.Image[1].Width, 1040);
}

TEST_F(ColourChartCommandsTest, XyzToRgbOnlyForColourAndLuminanceMakesGrey) {
  Open(1, 6, 4);
  ActivateImageWindow(1);
  Run("BildvonXYZnachRGBwandeln1");
  EXPECT_FALSE(Store.InUse[2]);  // a grey image leaves no slot behind
  OpenColour(2);
  Run("BildvonXYZnachRGBwandeln1");
  ASSERT_TRUE(Store.HasWindow[3]);
  EXPECT_EQ(HistoryText(3), "Farbraum von XYZ nach RGB");
  ActivateImageWindow(2);
  Run("RGBBildinswumwandelnLuminanz1");
  ASSERT_TRUE(Store.HasWindow[4]);
  EXPECT_EQ(Store.Image[4].PlaneCount, 1);
}

TEST_F(ColourChartCommandsTest, TimeStampsOfFilesThatAreNoRawListNothing) {
  TempDir dir;
  WriteText(dir.file("x.cr2"), "no raw");
  Answer({QString::fromStdString(dir.file("x.cr2"))});
  Run("Timestampladen1");
  EXPECT_FALSE(Store.InUse[1]);
}

}  // namespace
}  // namespace astrelon::test
