#include <cmath>

#include "display_test_images.h"
#include "shell/display/display_stretch.h"
#include "shell/display/palette_to_data.h"
#include "shell/display/preview_bitmap.h"
#include "shell/display/user_palette.h"
#include "store/display/histogram_range.h"
#include "store/header_cards.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

using DisplayStretchTest = StoreTest;

TEST_F(DisplayStretchTest, LinearStretchWritesLevels) {
  MakeGreySlot(1, 4, 1, {100, 150, 250, BlankPixel}, 100, 200);
  ApplyDisplayStretch(1, 65535);
  const auto& p = Store.Image[1].Planes[1];
  EXPECT_NEAR(p[0], 0.0f, 1e-3f);
  EXPECT_NEAR(p[1], 32767.5f, 0.01f);
  EXPECT_NEAR(p[2], 65535.0f, 1e-3f);
  EXPECT_EQ(p[3], BlankPixel);
  const TDisplayRecord& d = Store.Display[1];
  EXPECT_EQ(d.Black, 0.0f);
  EXPECT_EQ(d.White, 65535.0f);
  EXPECT_EQ(d.Gamma, 1.0f);
  EXPECT_EQ(d.RangeLow, 0.0f);
  EXPECT_GE(d.RangeHigh, 65535.0f);
  EXPECT_FLOAT_EQ(d.CurvePoints[3].X, 65535.0f / 2);
  EXPECT_NE(FindHeaderKeyword(1, "HISTORY"), -1);
  bool found = false;
  for (const auto& card : Store.Header[1].Cards) found |= card.find("Bild nach Histogramm skaliert") != std::string::npos;
  EXPECT_TRUE(found);
}

TEST_F(DisplayStretchTest, GammaAndTargetScale) {
  MakeGreySlot(1, 2, 1, {25, 100}, 0, 100);
  Store.Display[1].Gamma = 2;
  ApplyDisplayStretch(1, 255);
  EXPECT_NEAR(Store.Image[1].Planes[1][0], 127.5f, 0.01f);  // sqrt(0.25) * 255
  EXPECT_NEAR(Store.Image[1].Planes[1][1], 255.0f, 1e-3f);
}

TEST_F(DisplayStretchTest, EqualisationSpreadsTheLevels) {
  std::vector<float> v(1000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = i < 900 ? 10.0f + float(i) / 900 : 90.0f + float(i - 900) / 10;
  MakeGreySlot(1, 1000, 1, v, 0, 100);
  Store.Display[1].Gamma = -1;
  ApplyDisplayStretch(1, 65535);
  // 90 % of the pixels lie below 11: that value lands near 90 % of the output.
  EXPECT_NEAR(Store.Image[1].Planes[1][899] / 65535.0, 0.9, 0.01);
}

TEST_F(DisplayStretchTest, EqualisationGivesEachBinFourEntries) {
  // One value per bin over 0..100000: value v sits at table entry 4 v, the last of
  // the four entries of bin v; full equalisation of two equal bins.
  MakeGreySlot(1, 2, 1, {1, 2}, 0, 100000);
  Store.Display[1].Gamma = -1;
  ApplyDisplayStretch(1, 65535);
  EXPECT_FLOAT_EQ(Store.Image[1].Planes[1][0], 0.375f * 65535);  // (0 + 3/4) / 2
  EXPECT_FLOAT_EQ(Store.Image[1].Planes[1][1], 0.875f * 65535);  // (1 + 3/4) / 2
}

TEST_F(DisplayStretchTest, PolygonCurveGivesWholeLevels) {
  MakeGreySlot(1, 2, 1, {16383.75f, 65535}, 0, 65535);
  Store.Display[1].Gamma = CurveModeGamma;
  Store.Display[1].CurveMode = 0;
  ResetCurvePoints(1);  // the straight line: 0.25 * 65535 = 16383.75
  ApplyDisplayStretch(1, 65535);
  EXPECT_EQ(Store.Image[1].Planes[1][0], 16383.0f);
  EXPECT_EQ(Store.Image[1].Planes[1][1], 65535.0f);
}

TEST_F(DisplayStretchTest, LumaStretchKeepsHueAndBlanks) {
  MakeColourSlot(1, 2, 1, {20, 50}, {40, BlankPixel}, {60, 50}, CmRgb, 0, 100);
  Store.Display[1].LumaOnly = 1;
  ApplyDisplayStretch(1, 65535);
  const TImageSlot& im = Store.Image[1];
  EXPECT_LT(im.Planes[1][0], im.Planes[2][0]);
  EXPECT_LT(im.Planes[2][0], im.Planes[3][0]);
  EXPECT_EQ(im.Planes[2][1], BlankPixel);
}

TEST_F(DisplayStretchTest, PaletteBakedIntoRgbPlanes) {
  MakeGreySlot(1, 3, 1, {0, 30000, BlankPixel}, 0, 65535);
  Store.Display[1].DisplayType = DtRed;
  ApplyPaletteToData(1);
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.IsColor, 1);
  EXPECT_EQ(im.PlaneCount, 3);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
  EXPECT_EQ(im.Planes[1][1], 30000.0f);
  EXPECT_EQ(im.Planes[2][1], 0.0f);
  EXPECT_EQ(im.Planes[3][1], 0.0f);
  EXPECT_EQ(im.Planes[2][2], BlankPixel);

  MakeGreySlot(2, 1, 1, {20000}, 0, 65535);
  Store.Display[2].DisplayType = DtFourGradients;
  ApplyPaletteToData(2);
  const double t = std::numbers::pi * (80000.0 - 65536.0) / 32768;  // folded value 14464
  EXPECT_NEAR(Store.Image[2].Planes[1][0], std::sin(t - 1) * 32767 + 32767, 0.01);
  EXPECT_NEAR(Store.Image[2].Planes[2][0], 32767 - std::cos(t - 1.5) * 32767, 0.01);
  EXPECT_NEAR(Store.Image[2].Planes[3][0], std::cos(t) * 32767 + 32767, 0.01);

  std::vector<uint32_t> pal(65536, PackRgb(1, 2, 3));
  SetUserPalette(pal);
  MakeGreySlot(3, 1, 1, {70000}, 0, 65535);
  Store.Display[3].DisplayType = DtOwnPalette;
  ApplyPaletteToData(3);
  EXPECT_EQ(Store.Image[3].Planes[1][0], 256.0f);
  EXPECT_EQ(Store.Image[3].Planes[3][0], 768.0f);
  SetUserPalette({});

  MakeGreySlot(4, 1, 1, {5}, 0, 65535);
  Store.Display[4].DisplayType = DtGrey;
  ApplyPaletteToData(4);
  EXPECT_EQ(Store.Image[4].IsColor, 0);
}

TEST_F(DisplayStretchTest, IsophotesOnThePlane) {
  MakeGreySlot(1, 3, 3, {100, 100, 100, 100, 100, 9000, 100, 100, 100}, 0, 65535);
  Store.Display[1].DisplayType = DtIsophotes;
  ApplyPaletteToData(1);
  EXPECT_EQ(Store.Image[1].Planes[1][4], 65535.0f);  // its right neighbour rises above the step
  EXPECT_EQ(Store.Image[1].IsColor, 0);
}

TEST_F(DisplayStretchTest, PreviewFitsTheBox) {
  std::vector<float> v(1000 * 100);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 1000) / 1000 * 255;
  MakeGreySlot(1, 1000, 100, v, 0, 255);
  TDisplayBitmap b;
  ASSERT_TRUE(FillPreviewBitmap(1, b, true));
  EXPECT_EQ(b.Width, 280);
  EXPECT_EQ(b.Height, 28);
  EXPECT_EQ(b.Format, TBitmapFormat::Indexed8);
  EXPECT_EQ(b.Pixels[0], 0);
  EXPECT_NEAR(b.Pixels[279], 254, 1);

  MakeColourSlot(2, 560, 372, {}, {}, std::vector<float>(560 * 372, 300.0f), CmRgb, 0, 255);
  ASSERT_TRUE(FillPreviewBitmap(2, b, true));
  EXPECT_EQ(b.Width, 280);
  EXPECT_EQ(b.Height, 186);
  EXPECT_EQ(b.Format, TBitmapFormat::Bgr24);
  EXPECT_EQ(b.Pixels[0], 255);  // blue = plane 3, clamped
  EXPECT_EQ(b.Pixels[2], 0);
  ASSERT_TRUE(FillPreviewBitmap(2, b, false));
  EXPECT_EQ(b.Width, 560);

  const TPreviewPlacement wide = PreviewPlacement(280, 28);
  EXPECT_EQ(wide.Left, 3);
  EXPECT_EQ(wide.Top, 120 - 14);
  const TPreviewPlacement tall = PreviewPlacement(100, 200);
  EXPECT_EQ(tall.Height, 186);
  EXPECT_EQ(tall.Top, 27);
  EXPECT_EQ(tall.Left, 143 - 93 / 2);
}

}  // namespace
}  // namespace astrelon::test
