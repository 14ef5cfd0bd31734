#include <gtest/gtest.h>

#include <cmath>

#include "common/number_text.h"
#include "core/language.h"
#include "platform/processor_features.h"
#include "shell/display/display_lut.h"
#include "shell/main/main_texts.h"
#include "shell/slots/slot_utilities.h"
#include "shell/stars/star_panel_window.h"
#include "shell/stars/star_pick.h"
#include "shell/stars/star_results.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::MakeImage;

class StarPickTest : public test::StoreTest {};

double PlaneSum(int slot) {
  double s = 0;
  for (float v : Store.Image[1].Planes[1]) s += v;
  (void)slot;
  return s;
}

// A star of width w at (cx, cy), scaled by `scale`, on a background `bg` (100 x 100 grey).
void AddStar(int slot, double cx, double cy, double w, float scale) {
  std::vector<float> old = {Store.Image[size_t(slot)].Planes[1].begin(), Store.Image[size_t(slot)].Planes[1].end()};
  ZeroAllPlanes(slot);
  FillGaussianPsf(slot, cx, cy, w);
  auto& p = Store.Image[size_t(slot)].Planes[1];
  for (size_t i = 0; i < p.size(); ++i) p[i] = old[i] + p[i] * scale;
  UpdateMinMax(slot);
}

void GreyImage(int slot, float value) { MakeImage(slot, 100, 100, {std::vector<float>(100 * 100, value)}); }

TEST_F(StarPickTest, SmallRoutines) {
  EXPECT_EQ(Clamp1023LowByte(300), 44);
  EXPECT_EQ(Clamp1023LowByte(2000), 255);
  EXPECT_EQ(ClampWord(70000), 65535);
  EXPECT_EQ(Clamp400000(-3), 0);
  EXPECT_EQ(CommaToDot("1,5,0"), "1.5.0");

  TStarCutout c;
  c.FileName = "a.fit";
  c.OriginX = 10;
  c.CentreX = 2.5f;
  c.Flux = 100;
  FormatStarResults(c);
  EXPECT_EQ(StarResultTexts[1], "12.50");
  EXPECT_EQ(StarResultTexts[6], "-5.00");
  c.Flux = 0;
  FormatStarResults(c);
  EXPECT_EQ(StarResultTexts[6], "-");
}

TEST_F(StarPickTest, GaussianStarCoversItsSquareAndSkipsColour) {
  GreyImage(1, 0);
  FillGaussianPsf(1, 50.5, 60.5, 1);
  int written = 0, x1 = 100, x2 = -1, y1 = 100, y2 = -1;
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x)
      if (Store.Image[1].Planes[1][size_t(y * 100 + x)] != 0) {
        ++written;
        x1 = std::min(x1, x), x2 = std::max(x2, x), y1 = std::min(y1, y), y2 = std::max(y2, y);
      }
  EXPECT_EQ(written, 13 * 13);
  EXPECT_EQ(x1, 44);
  EXPECT_EQ(x2, 56);
  EXPECT_EQ(y1, 54);
  EXPECT_EQ(y2, 66);
  EXPECT_NEAR(PlaneSum(1), 31416, 314);

  FillGaussianPsf(1, 20, 20, 0);  // no width: nothing
  EXPECT_EQ(Store.Image[1].Planes[1][size_t(20 * 100 + 20)], 0.0f);

  const std::vector<float> flat(100 * 100, 0.0f);
  MakeImage(2, 100, 100, {flat, flat, flat});
  FillGaussianPsf(2, 50.5, 60.5, 1);
  for (int p = 1; p <= 3; ++p)
    for (float v : Store.Image[2].Planes[size_t(p)]) ASSERT_EQ(v, 0.0f);
}

TEST_F(StarPickTest, PickMeasuresCentreWidthBackgroundAndFlux) {
  for (bool sse : {true, false}) {
    SCOPED_TRACE(sse);
    const bool old = Sse2Enabled;
    Sse2Enabled = sse;
    GreyImage(1, 100);
    AddStar(1, 50.5, 60.5, 2, 1);
    PickStar(1, 51, 59, -1, LockedStar, TStarMode::Photometry, true, true);
    EXPECT_EQ(LockedStar.Analysed, 1);
    EXPECT_NEAR(LockedStar.OriginX + LockedStar.CentreX, 50.0, 0.05);
    EXPECT_NEAR(LockedStar.OriginY + LockedStar.CentreY, 60.0, 0.05);
    EXPECT_GE(LockedStar.FullWidthX, 3.33f);
    EXPECT_LE(LockedStar.FullWidthX, 3.45f);
    EXPECT_GE(LockedStar.FullWidthY, 3.33f);
    EXPECT_LE(LockedStar.FullWidthY, 3.45f);
    EXPECT_NEAR(LockedStar.Background, 100, 0.5);
    EXPECT_NEAR(LockedStar.Flux, 125664, 125664 * 0.03);
    EXPECT_EQ(LockedStar.CellSize, 16);

    GreyImage(1, 100);
    AddStar(1, 50.5, 60.5, 4, 1);
    PickStar(1, 50, 60, -1, LockedStar, TStarMode::Photometry, true, true);
    EXPECT_EQ(LockedStar.CellSize, 32);
    Sse2Enabled = old;
  }
}

TEST_F(StarPickTest, FlatCutoutKeepsStartValuesAndColourPicksGreen) {
  GreyImage(1, 100);
  PickStar(1, 50, 50, -1, LockedStar, TStarMode::Photometry, true, true);
  EXPECT_EQ(LockedStar.CentreX, 15.0f);
  EXPECT_EQ(LockedStar.FullWidthX, 0.0f);
  EXPECT_EQ(LockedStar.Flux, 0.0f);

  const std::vector<float> flat(100 * 100, 10.0f);
  MakeImage(2, 100, 100, {flat, flat, flat});
  FillStarCutout(2, 50, 50, MeasuredStar, -1);
  EXPECT_EQ(MeasuredStar.Channel, 2);
  FillStarCutout(2, 50, 50, MeasuredStar, 7);
  EXPECT_EQ(MeasuredStar.Channel, 3);
  // Near the border the cutout holds blanks.
  FillStarCutout(2, 3, 50, MeasuredStar, 1);
  EXPECT_LT(MeasuredStar.At(1, 0, 10), -1e9f);
  EXPECT_EQ(MeasuredStar.At(1, 12, 10), 10.0f);
}

TEST_F(StarPickTest, ComparisonGivesMagnitudeDifferenceAndDistance) {
  GreyImage(1, 100);
  AddStar(1, 30.5, 50.5, 2, 1);
  AddStar(1, 60.5, 50.5, 2, 0.1f);
  PickStar(1, 30, 50, -1, LockedStar, TStarMode::Photometry, true, true);
  PickStar(1, 60, 50, LockedStar.Channel, MeasuredStar, TStarMode::Photometry, true, true);
  const TComparisonTexts t = CompareStars(MeasuredStar, LockedStar);
  ASSERT_EQ(t.Magnitude.rfind("rMag:", 0), 0u);
  EXPECT_NEAR(StrToFloatDot(t.Magnitude.substr(5)), 2.50, 0.02);
  ASSERT_EQ(t.Distance.rfind("Abstand:", 0), 0u);
  EXPECT_NEAR(StrToFloatDot(t.Distance.substr(8)), 30.00, 0.05);

  MeasuredStar.Flux = 0;
  EXPECT_EQ(CompareStars(MeasuredStar, LockedStar).Magnitude, "rMag:-");
}

}  // namespace
}  // namespace astrelon

namespace astrelon {
namespace {

class StarPanelWindowTest : public test::StoreTest {};

TEST_F(StarPanelWindowTest, StatisticsBytesAndProfiles) {
  // 20 x 20 grey ramp 0..19 along x; window at (10, 10): columns 3..17.
  std::vector<float> ramp(400);
  for (int i = 0; i < 400; ++i) ramp[size_t(i)] = float(i % 20);
  test::MakeImage(1, 20, 20, {ramp});
  TPanelWindow w;
  ASSERT_TRUE(MeasurePanelWindow(1, 10, 10, w, {}));
  EXPECT_EQ(w.Count, 225);
  EXPECT_DOUBLE_EQ(w.DC, 10.0);
  EXPECT_NEAR(w.Rms, std::sqrt(224.0 / 12.0), 1e-9);
  EXPECT_EQ(w.Min, 3.0f);
  EXPECT_EQ(w.Max, 17.0f);
  EXPECT_EQ(w.Bytes[0][0], 0);
  EXPECT_EQ(w.Bytes[14][2], 255);
  EXPECT_EQ(PanelNumberText(PanelDcPrefix(w.Kind), w.DC), "DC: 10");
  EXPECT_EQ(PanelNumberText("rms: ", 1.234567), "rms: 1.2346");
  EXPECT_EQ(PanelDcPrefix(TPanelImageKind::Rgb), "DCg: ");
  EXPECT_EQ(PanelDcPrefix(TPanelImageKind::Yuv), "DCy: ");
  EXPECT_EQ(ProfileY(255), 2);
  EXPECT_EQ(ProfileY(0), 58);

  // At the corner the window is clipped; outside pixels keep the fill.
  ASSERT_TRUE(MeasurePanelWindow(1, 0, 0, w, {}));
  EXPECT_EQ(w.Count, 64);
  EXPECT_FALSE(w.Drawn[0]);
  EXPECT_TRUE(w.Drawn[7 * 15 + 7]);

  // Flat: every byte 0; blank: no count.
  test::MakeImage(2, 20, 20, {std::vector<float>(400, 5.0f)});
  ASSERT_TRUE(MeasurePanelWindow(2, 10, 10, w, {}));
  EXPECT_EQ(w.Bytes[112][0], 0);
  EXPECT_TRUE(w.Drawn[112]);
  test::MakeImage(3, 20, 20, {std::vector<float>(400, -1e11f)});
  ASSERT_TRUE(MeasurePanelWindow(3, 10, 10, w, {}));
  EXPECT_EQ(w.Count, 0);
  // A newer position abandons the pass.
  EXPECT_FALSE(MeasurePanelWindow(1, 10, 10, w, [] { return true; }));
}

TEST_F(StarPanelWindowTest, StatisticsLabelsTakeTheTranslatedWords) {
  TPanelWindow w;
  w.DC = 12.5;
  w.Rms = 0.25;
  w.Max = 30;
  w.Min = -2;
  using Texts = std::array<std::string, 4>;
  EXPECT_EQ(PanelStatisticsTexts(w), (Texts{"DC: 12.5", "rms: 0.25", "max: 30", "min: -2"}));
  LoadLanguageFile(test::TranslationLines(
      {{3, {"[1.1]Mean grey:", "[1.2]Noise:", "[1.4]Lowest:", "[1.6]Mean green:", "[5.3]Highest:"}}}, 3));
  EXPECT_EQ(PanelStatisticsTexts(w), (Texts{"Mean grey: 12.5", "Noise: 0.25", "Highest: 30", "Lowest: -2"}));
  w.Kind = TPanelImageKind::Rgb;
  EXPECT_EQ(PanelStatisticsTexts(w)[0], "Mean green: 12.5");
  w.Kind = TPanelImageKind::Yuv;  // the luma keeps its own prefix
  EXPECT_EQ(PanelStatisticsTexts(w)[0], "DCy: 12.5");
  UnloadLanguageFile();
}

TEST_F(StarPanelWindowTest, ComparisonWordsAreTheInfoLabels) {
  MeasuredStar = {};
  LockedStar = {};
  MeasuredStar.Flux = 10;
  LockedStar.Flux = 100;
  MeasuredStar.CentreX = 3;
  LockedStar.CentreY = 4;
  MainTexts.InfoLabels[7] = "Distance: ";
  MainTexts.InfoLabels[8] = "dMag: ";
  const TComparisonTexts t = CompareStars(MeasuredStar, LockedStar);
  EXPECT_EQ(t.Magnitude, "dMag: 2.50");
  EXPECT_EQ(t.Distance, "Distance: 5.00");
  ResetMainTexts();
  MeasuredStar = {};
  LockedStar = {};
}

}  // namespace
}  // namespace astrelon
