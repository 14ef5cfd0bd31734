// The histogram window's numbers and its histogram picture.
#include <QColor>
#include <QImage>

#include "shell/ui/histogram/histogram_bitmap.h"
#include "shell/ui/histogram/histogram_geometry.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

TEST(HistogramNumbers, SliderValueTextsAndColumns) {
  // Gamma slider of length 178: the ends give exactly 0.2 and 5, the middle 1.
  EXPECT_EQ(SliderPositionToGamma(0, 178), 0.2f);
  EXPECT_EQ(SliderPositionToGamma(178, 178), 5.0f);
  EXPECT_EQ(SliderPositionToGamma(89, 178), 1.0f);
  EXPECT_EQ(GammaToSliderPosition(2.0f, 178), 127);
  EXPECT_EQ(GammaToSliderPosition(1.0f, 178), 89);
  EXPECT_EQ(ShareToSliderPosition(-0.5f, 178), 89);
  EXPECT_EQ(ShareToSliderPosition(-3.0f, 178), 178);  // an undefined share stays on the slider
  EXPECT_FLOAT_EQ(SliderPositionToShare(89, 178), -0.5f);

  const std::pair<double, const char*> labels[] = {
      {1234567.8, "1234568"}, {123456.78, "123456.8"}, {12.3456, "12.35"}, {0.0012345, "0.001"},
      {-42.5, "-42.5"},       {12345678.9, "1.2346E7"}, {0, "0"}};
  for (const auto& [v, text] : labels) EXPECT_EQ(FormatValueLabel(v), text) << v;
  EXPECT_EQ(SliderValueText(0.1f, 1), "0.20");
  EXPECT_EQ(SliderValueText(2.5f, 1), "2.50");
  EXPECT_EQ(SliderValueText(-0.25f, 1), "25%");
  EXPECT_EQ(SliderValueText(-10.0f, 3), "3");

  EXPECT_EQ(BinColumn(0, 256), 2);
  EXPECT_EQ(BinColumn(500, 256), 258);
  EXPECT_EQ(BinColumn(100, 290), 60);
  EXPECT_EQ(BarHeight(1, 0, 75), 75);  // a peak of 0 counts as 1
  EXPECT_EQ(BarHeight(1, 4, 75), 38);  // round(37.5), halves to even
  EXPECT_EQ(CurveScrollOffset(300, 89, 3, 178), 300);
}

class HistogramPictureTest : public StoreTest {
protected:
  static constexpr int W = 256, H = 75;
  void SetUp() override {
    StoreTest::SetUp();
    MakeImage(1, 2, 2, {{0, 1, 2, 3}});
    MakeImage(2, 2, 2, {{0, 1, 2, 3}, {0, 1, 2, 3}, {0, 1, 2, 3}});
  }
  void Count(int slot, int plane, int bin, uint32_t n) { Store.Display[size_t(slot)].Histogram[size_t(plane - 1)][size_t(bin) + 1] = n; }
};

TEST_F(HistogramPictureTest, GreyBarsSitOnTheirColumns) {
  Count(1, 1, 100, 4);
  Count(1, 1, 300, 1);
  Store.Display[1].HistogramPeak = 4;
  const QImage img = DrawHistogramBitmap(1, W, H);
  ASSERT_EQ(img.size(), QSize(W + 5, H + 4));
  const QRgb grey = qRgb(0x60, 0x60, 0x60), white = qRgb(255, 255, 255);
  EXPECT_EQ(img.pixel(0, 0), qRgb(0, 0, 0));  // frame
  EXPECT_EQ(img.pixel(W + 4, H + 3), qRgb(0, 0, 0));
  const int x = BinColumn(100, W);  // bins 99 and 100 share this column
  for (int y = H + 2; y >= 3; --y) EXPECT_EQ(img.pixel(x, y), grey) << y;
  EXPECT_EQ(img.pixel(x, 2), white);
  EXPECT_EQ(img.pixel(x + 1, H + 2), white);
  const int x3 = BinColumn(300, W);  // a quarter of the peak: half the height
  EXPECT_EQ(img.pixel(x3, H + 3 - 38), grey);
  EXPECT_EQ(img.pixel(x3, H + 2 - 38), white);
  // A peak of 0 draws as 1.
  Store.Display[1].HistogramPeak = 0;
  Count(1, 1, 100, 0);
  Count(1, 1, 99, 0);
  EXPECT_EQ(DrawHistogramBitmap(1, W, H).pixel(x3, 3), grey);
}

TEST_F(HistogramPictureTest, ColourBarsStackByThePlanesThatReachEachHeight) {
  Count(2, 1, 200, 16);  // full height
  Count(2, 2, 200, 4);   // half
  Count(2, 3, 200, 1);   // a quarter: 19 pixels
  Store.Display[2].HistogramPeak = 16;
  const int x = BinColumn(200, W);
  for (int model : {CmRgb, CmYuv}) {
    Store.Image[2].ColorModel = model;
    const QImage img = DrawHistogramBitmap(2, W, H);
    EXPECT_EQ(QColor(img.pixel(x, H + 2)), HistogramPlaneColour(7, model));             // all three planes
    EXPECT_EQ(QColor(img.pixel(x, H + 3 - 19)), HistogramPlaneColour(7, model));
    EXPECT_EQ(QColor(img.pixel(x, H + 2 - 19)), HistogramPlaneColour(1 | 2, model));  // planes 1 and 2
    EXPECT_EQ(QColor(img.pixel(x, H + 3 - 38)), HistogramPlaneColour(1 | 2, model));
    EXPECT_EQ(QColor(img.pixel(x, H + 2 - 38)), HistogramPlaneColour(1, model));      // plane 1 alone
    EXPECT_EQ(QColor(img.pixel(x, 3)), HistogramPlaneColour(1, model));
  }
  EXPECT_EQ(HistogramPlaneColour(3, CmRgb), QColor(0xB0, 0xA8, 0x00));
  EXPECT_EQ(HistogramPlaneColour(4, CmYuv), QColor(0xFF, 0x80, 0x00));
}

}  // namespace
}  // namespace astrelon::test
