// The colour repairs from the menu: defect pixels, colour fringes and the
// registration of the colour layers on one or two marked regions.
#include "pixelops/ui/colour/colour_repair_commands.h"

#include <cmath>

#include "../ui_windows/window_fixture.h"
#include "common/engine_ui.h"
#include "pixelops/ui/operation_frame.h"
#include "qt_test_app.h"
#include "shell/ui/menu/menu_commands.h"

namespace astrelon::test {
namespace {

class ColourRepairCommandsTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetEngineUi(&ui_);
    RegisterColourRepairCommands();
  }
  void TearDown() override {
    WindowTest::TearDown();
    SetEngineUi(nullptr);
  }
  // A colour window whose planes hold a star field, blue moved by (dx, dy).
  void OpenStars(int slot, int w, int h, int dx, int dy) {
    Open(slot, w, h);
    TImageSlot& im = Store.Image[size_t(slot)];
    im.IsColor = 1;
    im.PlaneCount = 3;
    const auto field = [](double x, double y) {
      double v = 50;
      for (int k = 0; k < 12; ++k) {
        const double cx = 15 + (k * 37) % 70, cy = 12 + (k * 23) % 56;
        v += (400 + 50 * k) * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 5.0);
      }
      return float(v);
    };
    for (int p = 1; p <= 3; ++p) im.Planes[size_t(p)].resize(im.PixelCount());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = size_t(y * w + x);
        im.Planes[1][i] = im.Planes[2][i] = field(x, y);
        im.Planes[3][i] = field(x - dx, y - dy);
      }
    UpdateMinMax(slot);
    ActivateImageWindow(slot);
  }
  static void Run(const char* name) {
    EXPECT_TRUE(RunMenuCommand(name));
    QApplication::processEvents();
  }

  TEngineUi ui_;
};

TEST_F(ColourRepairCommandsTest, WithoutASelectionTheLayersAreNotMoved) {
  OpenStars(1, 100, 80, 2, -1);
  Run("Farbenzurechtrcken1");
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], "Markieren Sie zuerst einen oder zwei Bereiche.");
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_EQ(SlotPair.Destination, -1);
}

TEST_F(ColourRepairCommandsTest, OnlyTheSelectedBlueLayerMovesOntoGreen) {
  OpenStars(1, 100, 80, 2, -1);
  Store.Display[1].ChannelSelection = 3;
  TMDIChild* w = ImageWindow(1);
  w->Overlay().Shape1.Visible = true;
  w->Overlay().Shape1.Bounds = QRect(QPoint(10, 8), QPoint(89, 71));
  Run("Farbenzurechtrcken1");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_TRUE(ui_.Messages.empty());
  EXPECT_EQ(PlaneValues(2, 1), PlaneValues(1, 1));
  const std::vector<float> g = PlaneValues(1, 2), b = PlaneValues(2, 3);
  for (int y = 5; y < 75; ++y)
    for (int x = 5; x < 95; ++x) ASSERT_NEAR(b[size_t(y * 100 + x)], g[size_t(y * 100 + x)], 2.0) << x << "," << y;
  EXPECT_EQ(HistoryText(2), "Farblayer zurechtruecken");  // cards are ASCII
}

TEST_F(ColourRepairCommandsTest, DefectPixelsAndFringesInACopy) {
  Open(1, 8, 6);
  std::fill(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(), 100.0f);
  Store.Image[1].Planes[1][size_t(2 * 8 + 3)] = 1000;
  UpdateMinMax(1);
  ActivateImageWindow(1);
  Run("Fehlpixelgltten1");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_NEAR(PlaneValues(2, 1)[size_t(2 * 8 + 3)], 100 + std::sqrt(0.025), 1e-4);
  EXPECT_EQ(PlaneValues(1, 1)[size_t(2 * 8 + 3)], 1000.0f);
  EXPECT_EQ(HistoryText(2), "Fehlpixel glaetten");

  Run("Farbkantenentfernen1");  // a grey image: nothing
  EXPECT_FALSE(Store.InUse[3]);
  OpenStars(3, 30, 20, 0, 0);
  Store.Image[3].ColorModel = CmYuv;
  Run("Farbkantenentfernen1");
  ASSERT_TRUE(Store.HasWindow[4]);
  EXPECT_EQ(Store.Image[3].ColorModel, CmRgb);  // turned back to RGB first
  EXPECT_EQ(HistoryText(4), "YUVtoRGB, Farbkanten entfernen");
}

}  // namespace
}  // namespace astrelon::test
