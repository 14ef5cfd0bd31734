// The bias-image tools from the menu: bias images, the mosaic flat, the
// mosaic noise, and the Larson-Sekanina start in the filter dialog.
#include <algorithm>
#include <cmath>

#include "../ui_filters/filter_dialog_fixture.h"
#include "common/pascal_format.h"
#include "filters/dialog/pixel_filters.h"
#include "registration/ui/bias_tool_commands.h"
#include "store/planes/image_statistics.h"

namespace astrelon::test {
namespace {

class BiasToolCommandsTest : public FilterDialogTest {
protected:
  static void SetUpTestSuite() {
    FilterDialogTest::SetUpTestSuite();
    RegisterBiasToolCommands();
  }
  void SetUp() override {
    FilterDialogTest::SetUp();
    EngineUi().Messages.clear();
  }
  // Slot 1 in a window, grey (value(x, y)) or with three planes.
  template <class F>
  TMDIChild* OpenImage(int w, int h, F value, bool colour = false) {
    MakeImage(1, w, h);
    TImageSlot& im = Store.Image[1];
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(1, x, y) = float(value(x, y));
    if (colour) {
      im.IsColor = 1;
      im.PlaneCount = 3;
      im.Planes[2] = im.Planes[3] = im.Planes[1];
    }
    ResetDisplayRange(1, 0);
    ShowImageWindow(1);
    QApplication::processEvents();
    area_->setActiveSubWindow(ImageWindow(1));
    return ImageWindow(1);
  }
  static void Run(const char* item, const char* caption) {
    QAction action(QString::fromUtf8(caption));
    action.setObjectName(item);
    ASSERT_TRUE(RunMenuCommand(item, &action));
    QApplication::processEvents();
  }
  static std::string LastMessage() { return EngineUi().Messages.empty() ? "" : EngineUi().Messages.back(); }
};

TEST_F(BiasToolCommandsTest, LarsonSekaninaNeedsAMarkedCentre) {
  TMDIChild* source = OpenImage(40, 30, [](int x, int y) { return x + 2 * y; });
  Run("LarsonSekaninaFilter1", "&Larson-Sekanina Filter");
  EXPECT_EQ(LastMessage(), "Bitte zuerst den Mittelpunkt markieren!");
  EXPECT_FALSE(Store.InUse[2]);
  EXPECT_FALSE(form->isVisible());

  Drag(source, QPoint(10, 8), QPoint(20, 16));
  ASSERT_TRUE(source->SelectionVisible(1));
  Run("LarsonSekaninaFilter1", "&Larson-Sekanina Filter");
  ASSERT_TRUE(form->isVisible());
  EXPECT_TRUE(Store.HasWindow[2]);
  EXPECT_EQ(FunktionNr, 16);
  EXPECT_EQ(form->windowTitle().toStdString(), "Larson-Sekanina Filter");
  // The 40 % level of x + 2 y over 40 x 30 pixels (a histogram level: within a bin or two).
  std::vector<float> v(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  std::nth_element(v.begin(), v.begin() + 480, v.end());
  EXPECT_NEAR(LarsonSekaninaLevels[1], v[480], 1.5);
}

TEST_F(BiasToolCommandsTest, BiasImageIsACopyOfTheSourceSize) {
  OpenImage(70, 50, [](int x, int y) { return (x == 30 && y == 20) ? 5000.0 : 100.0 + (x + y) % 2; });
  Run("biasbildmachen1", "Ein Biasbild vom Masterdark generieren");
  ASSERT_TRUE(Store.HasWindow[2]);
  const TImageSlot& r = Store.Image[2];
  EXPECT_EQ(r.Width, 70);
  EXPECT_EQ(r.Height, 50);
  EXPECT_NEAR(r.At(1, 30, 20), 100.5, 1.0);
  EXPECT_EQ(SlotPair.Source, -1);
  EXPECT_EQ(CountOpenWindows(), 2);  // no work image left
}

TEST_F(BiasToolCommandsTest, MosaicToolsRefuseColourImages) {
  for (const auto& [item, caption] : {std::pair{"EinBiasbildvomMasterdarkgenerierenBayer1",
                                                "Ein Biasbild vom Masterdark generieren - Bayer"},
                                      std::pair{"BayerMasterflatnormalisieren1", "Bayer Masterflat normalisieren"}}) {
    OpenImage(8, 8, [](int, int) { return 1.0; }, true);
    Run(item, caption);
    EXPECT_EQ(LastMessage(), "Das Bild ist nicht s/w") << item;
    EXPECT_EQ(CountOpenWindows(), 1) << item;
    area_->closeAllSubWindows();
    QApplication::processEvents();
    Store.Reset();
  }
}

TEST_F(BiasToolCommandsTest, FlatGetsItsCardAndNoiseIsShown) {
  OpenImage(6, 6, [](int x, int y) { return (x + y) % 2 == 0 ? 2000.0 : (y % 2 == 0 ? 1000.0 : 2000.0); });
  Run("BayerMasterflatnormalisieren1", "Bayer Masterflat normalisieren");
  ASSERT_TRUE(Store.HasWindow[2]);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 1, 0), 2000);
  EXPECT_EQ(History(2), "Bayer Masterflat normalisieren");
  EXPECT_TRUE(EngineUi().Messages.empty());

  area_->setActiveSubWindow(ImageWindow(1));
  Run("RauschanteilbestimmenBayer1", "Rauschanteil bestimmen Bayer");
  EXPECT_EQ(LastMessage(), "Rauschanteilbayer: " + FloatToStr(EstimateNoise(1, 1)));
}

}  // namespace
}  // namespace astrelon::test
