// Bias images from master darks and the mosaic flat levels.
#include <cmath>
#include <random>

#include "filters/noise/bias_image.h"
#include "registration/calibration/bayer_flat_normalisation.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr float B = BlankPixel;

class BiasImageTest : public StoreTest {
protected:
  // A grey w x h image in `slot` whose pixel (x, y) is value(x, y).
  template <class F>
  static TImageSlot& Image(int slot, int w, int h, F value) {
    TImageSlot& im = Store.Image[size_t(slot)];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = 1;
    im.AllocatePlanes(1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(1, x, y) = float(value(x, y));
    Store.InUse[size_t(slot)] = 1;
    UpdateMinMax(slot);
    return im;
  }
  // A copy of slot 1 in slot 2, as the commands start.
  static void Result() { ASSERT_TRUE(CopyImageSlot(1, 2)); }
};

TEST_F(BiasImageTest, CellDropsItsLargestValue) {
  struct Case {
    std::array<float, 4> Cell;
    float Expected;
  };
  const Case cases[] = {{{10, 10, 10, 1000}, 10},  {{10, B, B, B}, 10},     {{B, B, B, B}, 7},
                        {{10, 20, B, B}, 15},      {{10, 20, 30, B}, 15},   {{-6, 9, 3, 0}, -1}};
  for (const Case& c : cases) EXPECT_FLOAT_EQ(BiasCellValue(c.Cell, 7), c.Expected);
}

TEST_F(BiasImageTest, HalvingTakesTheCellsAlsoOnOddSizes) {
  // 5 x 3: cells of columns 0-1 and 2-3, row 0-1; column 4 and row 2 drop out.
  Image(1, 5, 3, [](int x, int y) { return (x == 1 && y == 0) ? 900.0 : 10.0 * (x / 2 + 1) + y % 2; });
  HalveBiasImage(1, 2);
  const TImageSlot& d = Store.Image[2];
  ASSERT_EQ(d.Width, 2);
  ASSERT_EQ(d.Height, 1);
  EXPECT_FLOAT_EQ(d.At(1, 0, 0), (10 + 11 + 11) / 3.0f);  // the hot pixel dropped
  EXPECT_FLOAT_EQ(d.At(1, 1, 0), (20 + 20 + 21) / 3.0f);
}

TEST_F(BiasImageTest, HalvesUntilTheSmallerSideFits) {
  struct Case {
    int W, H, From, ExpectedW, ExpectedH;
  };
  for (const Case c : {Case{1000, 800, BiasHalvingLimitGrey, 500, 400}, Case{1002, 1002, BiasHalvingLimitGrey, 250, 250},
                       Case{500, 400, BiasHalvingLimitChannel + 1, 250, 200}}) {
    Image(1, c.W, c.H, [](int, int) { return 5.0; });
    ASSERT_TRUE(HalveBiasImageFrom(1, c.From));
    EXPECT_EQ(Store.Image[1].Width, c.ExpectedW);
    EXPECT_EQ(Store.Image[1].Height, c.ExpectedH);
    EXPECT_FLOAT_EQ(Store.Image[1].At(1, 3, 3), 5.0f);
    EXPECT_FALSE(Store.InUse[2]);  // the work copy is gone
  }
}

TEST_F(BiasImageTest, GreyBiasIsTheSmoothLevelWithoutHotPixels) {
  std::mt19937 rng(5);
  // Dropping the largest value of each cell lowers the level by about a third
  // of the noise's sigma.
  std::normal_distribution<double> noise(0, 1);
  const int w = 640, h = 520;  // halved once to 320 x 260
  Image(1, w, h, [&](int x, int y) { return (x % 97 == 13 && y % 89 == 7) ? 4000.0 : 100 + noise(rng); });
  Result();
  ASSERT_TRUE(MakeBiasImage(1, 2));
  const TImageSlot& r = Store.Image[2];
  ASSERT_EQ(r.Width, w);
  ASSERT_EQ(r.Height, h);
  float lo = 1e9f, hi = -1e9f;
  for (float v : r.Planes[1]) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_GT(lo, 99.0f);
  EXPECT_LT(hi, 101.0f);
  for (int s = 3; s <= MaxImageSlots; ++s) EXPECT_FALSE(Store.InUse[size_t(s)]) << s;
}

TEST_F(BiasImageTest, BayerBiasKeepsEachClassLevel) {
  // Green on x + y even (offset 120), red on the other cells of even rows
  // (100), blue on those of odd rows (110).
  std::mt19937 rng(9);
  std::normal_distribution<double> noise(0, 1);
  const int w = 1001, h = 801;
  auto level = [](int x, int y) { return (x + y) % 2 == 0 ? 120.0 : (y % 2 == 0 ? 100.0 : 110.0); };
  Image(1, w, h, [&](int x, int y) { return level(x, y) + noise(rng); });
  Result();
  ASSERT_TRUE(MakeBayerBiasImage(1, 2));
  const TImageSlot& r = Store.Image[2];
  ASSERT_EQ(r.Width, w);
  ASSERT_EQ(r.Height, h);
  int off = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) off += std::fabs(r.At(1, x, y) - level(x, y)) > 1.0;
  EXPECT_EQ(off, 0);
}

TEST_F(BiasImageTest, FlatClassesTakeTheGreenLevel) {
  // 4 x 4, green on x + y even at 2000, red (even rows) 1000, blue (odd rows) 4000.
  auto level = [](int x, int y) { return (x + y) % 2 == 0 ? 2000.0 : (y % 2 == 0 ? 1000.0 : 4000.0); };
  TImageSlot& s = Image(1, 4, 4, level);
  s.At(1, 0, 0) = B;
  for (float& m : s.RawMultipliers) m = 2.5f;
  Result();
  EXPECT_EQ(NormalizeBayerFlat(1, 2), 0u);
  const TImageSlot& r = Store.Image[2];
  EXPECT_EQ(r.At(1, 0, 0), B);
  EXPECT_FLOAT_EQ(r.At(1, 1, 1), 2000);
  EXPECT_FLOAT_EQ(r.At(1, 1, 0), 2000);  // red doubled
  EXPECT_FLOAT_EQ(r.At(1, 0, 1), 2000);  // blue halved
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.RawMultipliers[i], 1.0f);

  // A class without level keeps factor 1 and is reported.
  Image(1, 4, 4, [&](int x, int y) { return (x + y) % 2 == 1 && y % 2 == 1 ? 0.0 : level(x, y); });
  Result();
  EXPECT_EQ(NormalizeBayerFlat(1, 2), 2u);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 0, 1), 0);
  EXPECT_FLOAT_EQ(Store.Image[2].At(1, 1, 0), 2000);
}

}  // namespace
}  // namespace astrelon::test
