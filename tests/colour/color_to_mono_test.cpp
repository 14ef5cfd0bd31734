// Colour images turned into grey ones by luma or luminance.
#include "kernels/colour/color_to_mono.h"

#include <cmath>

#include <gtest/gtest.h>

#include "colour_images.h"
#include "kernels/colour/power_table.h"
#include "store/color_models.h"

namespace astrelon::test {
namespace {

using ColorToMono = ColourTest;

float Grey(int slot, size_t i) { return Store.Image[size_t(slot)].Planes[1][i]; }

TEST_F(ColorToMono, LumaWeighsTheValidPlanes) {
  MakeColourImage(1, 4, {{100, 200, 50}, {100, BlankPixel, BlankPixel}, {BlankPixel, BlankPixel, -2e9f}, {0, 0, 10}});
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));
  EXPECT_CLOSE(Grey(2, 0), 153.0f, 1e-4);
  EXPECT_CLOSE(Grey(2, 1), 100.0f, 1e-5);
  EXPECT_EQ(Grey(2, 2), BlankPixel);
  EXPECT_CLOSE(Grey(2, 3), 1.14f, 1e-5);
  const TImageSlot& d = Store.Image[2];
  EXPECT_EQ(d.IsColor, 0);
  EXPECT_EQ(d.PlaneCount, 1);
  EXPECT_TRUE(d.Planes[2].empty() && d.Planes[3].empty());
  EXPECT_CLOSE(d.MaxValue, 153.0f, 1e-4);
  EXPECT_EQ(Store.Display[2].DisplayType, DtGrey);
  EXPECT_EQ(GetHeaderValue(2, "NAXIS", true), "2");
  EXPECT_EQ(GetHeaderValue(2, "NAXIS3", true), "");
  EXPECT_EQ(d.RawMultipliers[0], 1.0f);
  EXPECT_EQ(Store.Image[1].PlaneCount, 3);  // the source stays
}

// The grey plane without a slot holds what the conversion writes; a grey
// image gives its plane, a YUV one its Y plane.
TEST_F(ColorToMono, GreyPlaneOfEqualsTheConversion) {
  MakeColourImage(1, 4, {{100, 200, 50}, {100, BlankPixel, BlankPixel}, {BlankPixel, BlankPixel, -2e9f}, {0, 0, 10}});
  const TPlane grey = GreyPlaneOf(1);
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));
  EXPECT_EQ(grey, Store.Image[2].Planes[1]);
  EXPECT_EQ(GreyPlaneOf(2), Store.Image[2].Planes[1]);
  Store.Image[1].ColorModel = CmYuv;
  EXPECT_EQ(GreyPlaneOf(1), Store.Image[1].Planes[1]);
  EXPECT_TRUE(GreyPlaneOf(5).empty());
}

TEST_F(ColorToMono, LuminanceLinearisesOverTheRange) {
  // lo = 0, hi = 200: a grey pixel keeps its value; one valid plane gives that plane.
  MakeColourImage(1, 4, {{0, 0, 0}, {50, 50, 50}, {200, 0, 0}, {BlankPixel, 120, BlankPixel}});
  ASSERT_TRUE(ConvertColorToMono(1, 2, true));
  EXPECT_CLOSE(Grey(2, 0), 0.0f, 1e-5);
  EXPECT_CLOSE(Grey(2, 1), 50.0f, 1e-4);
  EXPECT_CLOSE(Grey(2, 2), std::pow(0.2126, 1 / 2.2) * 200, 1e-3);
  EXPECT_CLOSE(Grey(2, 3), 120.0f, 1e-4);
}

TEST_F(ColorToMono, LuminanceRangeIncludesTheDisplayPointsOfAShownImage) {
  MakeColourImage(1, 2, {{1, 1, 1}, {1.004f, 1.004f, 1.004f}});
  ASSERT_TRUE(ConvertColorToMono(1, 2, true));  // range 0.004 is taken as 0.01
  EXPECT_CLOSE(Grey(2, 1), 1.004f, 1e-5);
  EXPECT_EQ(MonoRangeOf(1).Range, 0.01f);
  Store.HasWindow[1] = 1;
  Store.Display[1].Black = -10;
  Store.Display[1].White = 30;
  EXPECT_EQ(MonoRangeOf(1).Low, -10.0f);
  EXPECT_EQ(MonoRangeOf(1).Range, 40.0f);
  Store.HasWindow[1] = 0;
}

TEST_F(ColorToMono, YuvSourceGivesItsYPlaneInLumaMode) {
  MakeColourImage(1, 3, {{100, 200, 50}, {BlankPixel, 1, 2}, {7, 8, 9}});
  ASSERT_TRUE(RGBtoYUV(1));
  Store.Image[1].Planes[1][2] = 8.25f;
  const std::vector<float> y(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));
  ExpectSameBits(std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end()), y);

  // Luminance goes through RGB; chroma that pushes a component below lo is taken as 0.
  ASSERT_TRUE(ConvertColorToMono(1, 3, true));
  for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(std::isnan(Grey(3, i))) << i;
  EXPECT_EQ(Grey(3, 1), BlankPixel);
}

TEST_F(ColorToMono, InPlaceKeepsHeaderAndDisplayRecord) {
  MakeColourImage(1, 2, {{100, 200, 50}, {1, 2, 3}});
  AddHistoryCard(1, "Vorher", 1);
  Store.Display[1].Gamma = 0.5f;
  ASSERT_TRUE(ConvertColorToMono(1, 1, false));
  EXPECT_CLOSE(Grey(1, 0), 153.0f, 1e-4);
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Store.Display[1].Gamma, 0.5f);
  EXPECT_EQ(GetHeaderValue(1, "NAXIS", true), "2");
  const auto cards = Store.Header[1].ActiveCards();
  EXPECT_NE(std::find(cards.begin(), cards.end(), PadCard("HISTORY Vorher")), cards.end());
}

TEST_F(ColorToMono, ReplacesAnImageInTheDestinationAndRefusesGreyOrNoSlot) {
  MakeColourImage(1, 1, {{3, 3, 3}});
  MakeColourImage(2, 2, {{9, 9, 9}, {9, 9, 9}});
  Store.Image[2].RawMosaic = 1;
  Store.Image[2].FftWidth = 64;
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));
  EXPECT_EQ(Store.Image[2].Width, 1);
  EXPECT_EQ(Store.Image[2].RawMosaic, 0);  // nothing of the earlier image stays
  EXPECT_EQ(Store.Image[2].FftWidth, 0);
  EXPECT_EQ(Store.FileName[2], Store.FileName[1]);
  EXPECT_FALSE(ConvertColorToMono(1, 0, false));
  EXPECT_FALSE(ConvertColorToMono(2, 3, false));  // now grey
  EXPECT_FALSE(ConvertColorToMono(7, 3, false));  // empty slot
  EXPECT_FALSE(Store.InUse[3]);
}

TEST(PowerTable, MatchesThePowerFunction) {
  const TPowerTable up(2.2), down(1 / 2.2);
  for (double x = 1e-12; x < 1e6; x *= 1.0173) {
    const float f = float(x);
    EXPECT_NEAR(up(f) / std::pow(double(f), 2.2), 1.0, 3e-7) << x;
    EXPECT_NEAR(down(f) / std::pow(double(f), 1 / 2.2), 1.0, 3e-7) << x;
  }
  EXPECT_EQ(up(1.0f), 1.0f);
  EXPECT_EQ(up(0.0f), 0.0f);
  EXPECT_EQ(up(1e-40f), 0.0f);  // subnormal
}

TEST(ColorToMonoRuns, VectorPathGivesTheScalarBits) {
  for (size_t n : {1u, 8u, 13u, 1001u}) {
    const auto in = NoisyColourRun(n, 21);
    for (bool yuv : {false, true})
      for (TMonoRange range : {TMonoRange{-1000, 39000}, TMonoRange{5000, 0.01f}}) {
        std::vector<float> scalar(n), vector(n);
        LuminanceRun(in[0], in[1], in[2], scalar, range, yuv, false);
        LuminanceRun(in[0], in[1], in[2], vector, range, yuv, true);
        ExpectSameBits(scalar, vector);
      }
  }
}

}  // namespace
}  // namespace astrelon::test
