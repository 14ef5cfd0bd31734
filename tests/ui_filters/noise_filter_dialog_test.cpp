// The noise filters in the shared filter dialog: started from their menu items,
// computed on "&Berechnen", the colour-noise filter's YUV view while shown, and
// the non-local means with its blank-filled copy and smooth-gradient slots,
// all released when the dialog closes.
#include <cmath>
#include <random>

#include "filter_dialog_fixture.h"
#include "filters/noise/nlm_planes.h"
#include "store/color_models.h"
#include "store/display/display_histogram.h"

namespace astrelon::test {
namespace {

class NoiseFilterDialogTest : public FilterDialogTest {
protected:
  // A w x h image of `planes` planes: 1000 + 100 p + slope x with noise of up to +-20 in steps of 10.
  TMDIChild* OpenNoisy(int planes, int w = 40, int h = 30, float slope = 0) {
    std::mt19937 rng(7);
    std::vector<std::vector<float>> data(size_t(planes), std::vector<float>(size_t(w) * size_t(h)));
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          data[size_t(p)][size_t(y * w + x)] = 1000.0f + 100.0f * float(p) + slope * float(x) + float(int(rng() % 5) - 2) * 10;
    return OpenActive(w, h, data);
  }
  // Mean absolute difference of vertical neighbours of plane p over the interior (the noise).
  static double Spread(int slot, int p) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    double s = 0, n = 0;
    for (int y = 3; y < im.Height - 4; ++y)
      for (int x = 3; x < im.Width - 3; ++x) {
        const float a = im.At(p, x, y), b = im.At(p, x, y + 1);
        if (!IsValidPixel(a) || !IsValidPixel(b)) continue;
        s += std::fabs(a - b);
        ++n;
      }
    return s / n;
  }
  void Berechnen() {
    ASSERT_FALSE(form->Button3->isHidden());
    form->Button3->click();
    QApplication::processEvents();
  }
};

TEST_F(NoiseFilterDialogTest, RauschfilterAndMedianfilterSmoothOnBerechnen) {
  OpenNoisy(1);
  ASSERT_TRUE(RunMenuCommand("MedianFilter1"));
  ASSERT_TRUE(form->isVisible());
  Berechnen();
  EXPECT_LT(Spread(2, 1), 0.5 * Spread(1, 1));
  form->Button1->click();
  EXPECT_EQ(History(2).rfind("Rauschfilter", 0), 0u) << History(2);

  // A hot pixel goes with the median's smallest footprint (the default).
  Store.Image[1].Planes[1][size_t(15 * 40 + 20)] = 60000;
  area_->setActiveSubWindow(ImageWindow(1));
  ASSERT_TRUE(RunMenuCommand("Medianfilter2"));
  Berechnen();
  EXPECT_LT(Store.Image[3].At(1, 20, 15), 1100);
}

TEST_F(NoiseFilterDialogTest, ColourNoiseShowsYuvAndReturnsRgb) {
  OpenNoisy(3, 40, 30, 50);  // a wide brightness range sets a wide threshold
  const TImageSlot original = Store.Image[1];
  ASSERT_TRUE(RunMenuCommand("Farbrauschenfiltern1"));
  ASSERT_TRUE(form->isVisible());
  EXPECT_EQ(Store.Image[1].ColorModel, CmYuv);
  EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
  Berechnen();
  EXPECT_LT(Spread(2, 2), 0.5 * Spread(1, 2));
  form->Button1->click();
  ASSERT_FALSE(form->isVisible());
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < original.PixelCount(); ++i)
      ASSERT_NEAR(Store.Image[1].Planes[size_t(p)][i], original.Planes[size_t(p)][i], 1e-2f);
  // The brightness stays.
  for (size_t i = 0; i < original.PixelCount(); ++i) {
    auto y = [&](const TImageSlot& im) {
      return 0.299f * im.Planes[1][i] + 0.587f * im.Planes[2][i] + 0.114f * im.Planes[3][i];
    };
    ASSERT_NEAR(y(Store.Image[2]), y(original), 1e-2f) << i;
  }
}

TEST_F(NoiseFilterDialogTest, NlmWorksFromItsSlotsAndFreesThemOnClose) {
  OpenNoisy(1, 60, 40);
  Store.Image[1].Planes[1][size_t(10 * 60 + 10)] = std::nanf("");
  const int freeBefore = FindFreeSlot();
  ASSERT_TRUE(RunMenuCommand("NTdenoise1"));
  ASSERT_TRUE(form->isVisible());
  ASSERT_TRUE(SlotInUse(FilterWorkSlot));  // the source has a blank pixel
  // The info panel prepares the planes of the source while the dialog serves it.
  ReleaseNlmPlanes();
  UpdateInfoPanel(1, 0);
  EXPECT_EQ(NlmPlanes.Slot, 1);

  form->CheckBox1->setChecked(true);  // "Glatte Verläufe"
  Berechnen();
  ASSERT_TRUE(SlotInUse(FilterBlurSlot));
  ASSERT_TRUE(SlotInUse(FilterDiffSlot));
  EXPECT_LT(Spread(2, 1), 0.7 * Spread(1, 1));
  EXPECT_TRUE(std::isnan(Out(10, 10)));

  form->Button2->click();
  QApplication::processEvents();
  EXPECT_EQ(FilterWorkSlot, -1);
  EXPECT_EQ(FilterBlurSlot, -1);
  EXPECT_EQ(FilterDiffSlot, -1);
  EXPECT_EQ(FindFreeSlot(), freeBefore);
  EXPECT_TRUE(NlmPlanes.Plane[1].Levels.empty());
  // Closed, the info panel leaves the planes alone.
  UpdateInfoPanel(1, 0);
  EXPECT_EQ(NlmPlanes.Slot, -1);
}

}  // namespace
}  // namespace astrelon::test
