#include <cmath>
#include <limits>
#include <random>

#include "core/settings.h"
#include "display_test_images.h"
#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/display/histogram_axis.h"
#include "store/display/histogram_range.h"
#include "store/display/histogram_value_mapping.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class DisplayHistogramTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    savedSse2 = Sse2Enabled;
    savedBlackToZero = Options.BlackToZero;
    Options.BlackToZero = 0;
  }
  void TearDown() override {
    Sse2Enabled = savedSse2;
    Options.BlackToZero = savedBlackToZero;
    StoreTest::TearDown();
  }
  uint32_t Bin(int slot, int plane, int bin) { return Store.Display[slot].Histogram[size_t(plane - 1)][size_t(bin) + 1]; }
  bool savedSse2 = false;
  uint8_t savedBlackToZero = 0;
};

TEST_F(DisplayHistogramTest, FlatImageGetsMinimalWidthAndOneBin) {
  MakeGreySlot(1, 4, 3, std::vector<float>(12, 5.0f), 5.0f, 5.0f);
  ComputeHistogram(1, true, true);
  const TDisplayRecord& d = Store.Display[1];
  EXPECT_FLOAT_EQ(d.Black, 5.0f);
  EXPECT_NEAR(d.White - d.Black, 0.001f, 1e-6f);
  EXPECT_LE(d.RangeLow, d.Black);
  EXPECT_GE(d.RangeHigh, d.White);
  EXPECT_EQ(Bin(1, 1, 0), 12u);
  EXPECT_EQ(d.HistogramPeak, 12);
}

TEST_F(DisplayHistogramTest, ValuesAtAndBeyondTheAxisEndsAgreeInBothPaths) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Axis spans black..white (10..20): 20 lands in bin 500; 25, 5, blank and NaN are dropped.
  MakeGreySlot(1, 8, 1, {10, 15, 20, 25, 5, BlankPixel, nan, 20}, 10, 20);
  Store.Display[1].SpanBlackWhite = 1;
  for (bool sse : {false, true}) {
    Sse2Enabled = sse;
    ComputeHistogram(1, false, false);
    EXPECT_EQ(Bin(1, 1, 0), 1u) << sse;
    EXPECT_EQ(Bin(1, 1, 250), 1u) << sse;
    EXPECT_EQ(Bin(1, 1, 500), 2u) << sse;
    uint32_t total = 0;
    for (uint32_t c : Store.Display[1].Histogram[0]) total += c;
    EXPECT_EQ(total, 4u) << sse;  // guards stay empty
    EXPECT_EQ(Store.Display[1].HistogramPeak, 2) << sse;
  }
}

TEST_F(DisplayHistogramTest, CounterPathsAreIdenticalOnRandomData) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-50.0f, 1050.0f);
  std::vector<float> v(4099);
  for (size_t i = 0; i < v.size(); ++i) v[i] = (i % 97 == 0) ? BlankPixel : u(rng);
  v[5] = std::numeric_limits<float>::quiet_NaN();
  v[6] = std::numeric_limits<float>::infinity();
  v[7] = 0.0f;  // exactly at the threshold
  v[8] = 1.0f;  // exactly half a bin: ties go to even
  for (int sqrtScale = 0; sqrtScale <= 1; ++sqrtScale) {
    for (int span = 0; span <= 1; ++span) {
      TDisplayRecord d;
      d.RangeLow = 0;
      d.RangeHigh = 1000;
      d.Black = 100;
      d.White = 900;
      d.SqrtHistogram = uint8_t(sqrtScale);
      d.SpanBlackWhite = uint8_t(span);
      const THistogramAxis axis = HistogramAxisOf(d);
      std::array<uint32_t, HistogramEntries> scalar{};
      CountHistogram(v, axis, scalar, false);
      // The widest loops the processor has, then the four-wide ones.
      const bool savedAvx2 = Avx2Enabled;
      for (bool wide : {true, false}) {
        Avx2Enabled = wide;
        std::array<uint32_t, HistogramEntries> vector{};
        CountHistogram(v, axis, vector, true);
        EXPECT_EQ(scalar, vector) << sqrtScale << span << wide;
      }
      Avx2Enabled = savedAvx2;
      EXPECT_EQ(scalar[0], 0u);
      EXPECT_EQ(scalar[502], 0u);
    }
  }
  TDisplayRecord lin;
  lin.RangeLow = 0;
  lin.RangeHigh = 1000;
  std::array<uint32_t, HistogramEntries> h{};
  CountHistogram(std::vector<float>{1.0f, 3.0f}, HistogramAxisOf(lin), h, true);
  EXPECT_EQ(h[1 + 0], 1u);  // 0.5 -> bin 0
  EXPECT_EQ(h[1 + 2], 1u);  // 1.5 -> bin 2
}

TEST_F(DisplayHistogramTest, BlackToZeroWidensTheAxisDownToZero) {
  Options.BlackToZero = 1;
  MakeGreySlot(1, 2, 2, {50, 60, 70, 150}, 60, 150);
  ComputeHistogram(1, true, true);
  const TDisplayRecord& d = Store.Display[1];
  EXPECT_EQ(d.RangeLow, 0.0f);
  for (int b = 0; b < 166; ++b) EXPECT_EQ(Bin(1, 1, b), 0u) << b;  // below 50 of 150
  EXPECT_EQ(Bin(1, 1, 167), 1u);                                     // 50 * 500 / 150 = 166.67
  EXPECT_GE(d.White, d.Black + 0.001f);
}

TEST_F(DisplayHistogramTest, ResetAboveTheImageKeepsWhiteAboveBlack) {
  MakeGreySlot(1, 2, 1, {0, 10}, 20, 30);
  ComputeHistogram(1, true, false);
  const TDisplayRecord& d = Store.Display[1];
  EXPECT_LT(d.Black, d.White);
  EXPECT_LE(d.RangeLow, d.Black);
  EXPECT_GE(d.RangeHigh, d.White);
}

TEST_F(DisplayHistogramTest, CurvePointsFollowBlackAndWhite) {
  MakeGreySlot(1, 2, 1, {0, 1000}, 0, 1000);
  TDisplayRecord& d = Store.Display[1];
  ResetCurvePoints(1);
  d.CurvePoints[3].X = 500;
  d.Black = 100;
  ClampDisplayRange(1, false);
  EXPECT_FLOAT_EQ(d.CurvePoints[3].X, 550.0f);
  EXPECT_FLOAT_EQ(d.CurvePoints[0].X, 100.0f);
  EXPECT_FLOAT_EQ(d.CurvePoints[6].X, 1000.0f);
}

TEST_F(DisplayHistogramTest, CurveOrderingStaysStrictAtLargeValues) {
  MakeGreySlot(1, 2, 1, {0, 1e7f}, 0, 1e7f);
  TDisplayRecord& d = Store.Display[1];
  for (auto& p : d.CurvePoints) p.X = 5e6f;
  d.CurvePoints[0].X = 0;
  d.CurvePoints[6].X = 1e7f;
  ComputeHistogram(1, false, false);
  for (int k = 2; k <= 6; ++k) EXPECT_LT(d.CurvePoints[size_t(k - 1)].X, d.CurvePoints[size_t(k)].X) << k;
}

TEST_F(DisplayHistogramTest, StraightCurveIsTheRamp) {
  MakeGreySlot(1, 2, 1, {0, 100}, 20, 80);
  ResetCurvePoints(1);
  LoadCurvePoints(1);
  EXPECT_NEAR(EvaluateCurve(20), 0.0, 1e-9);
  EXPECT_NEAR(EvaluateCurve(80), 1.0, 1e-9);
  for (float x : {25.0f, 33.0f, 50.0f, 61.5f, 79.0f}) EXPECT_NEAR(EvaluateCurve(x), (x - 20) / 60.0, 1e-6) << x;
  EXPECT_EQ(EvaluateCurve(-1000), 0.0);
  EXPECT_EQ(EvaluateCurve(1000), 1.0);
  EXPECT_EQ(EvaluateCurve(std::numeric_limits<float>::quiet_NaN()), 0.0);
}

TEST_F(DisplayHistogramTest, RaisedCurvePointBendsTheCurveUpward) {
  MakeGreySlot(1, 2, 1, {0, 60}, 0, 60);
  ResetCurvePoints(1);
  Store.Display[1].CurvePoints[3].Y = 0.8f;  // the middle point at x = 30
  LoadCurvePoints(1);
  const double mid = EvaluateCurve(30);
  EXPECT_GT(mid, 0.6);
  EXPECT_LT(mid, 0.8);
  EXPECT_LT(EvaluateCurve(29), mid);
  EXPECT_GT(EvaluateCurve(31), mid);
}

TEST_F(DisplayHistogramTest, ChannelIteration) {
  MakeColourSlot(1, 1, 1, {1}, {2}, {3}, CmYuv, 0, 4);
  Store.Display[1].ChannelSelection = 4;
  std::vector<int> seen;
  for (int p = FirstChannel(1); p <= 3; NextChannel(1, p)) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<int>{2, 3}));

  Store.Image[1].ColorModel = CmRgb;
  seen.clear();
  for (int p = FirstChannel(1); p <= 3; NextChannel(1, p)) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<int>{1, 3}));
  EXPECT_EQ(GetRgbCode(1), 2);

  MakeGreySlot(2, 1, 1, {1}, 0, 1);
  Store.Display[2].ChannelSelection = 3;
  seen.clear();
  for (int p = FirstChannel(2); p <= Store.Image[2].PlaneCount; NextChannel(2, p)) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<int>{1}));
  EXPECT_EQ(GetRgbCode(2), 1);
  EXPECT_EQ(ImageMaxOr255(2), 255.0f);
}

TEST_F(DisplayHistogramTest, AutoGammaOfADarkImage) {
  MakeGreySlot(1, 1, 1, {0}, 0, 500);
  TDisplayRecord& d = Store.Display[1];
  d.RangeLow = 0;
  d.RangeHigh = 500;
  for (int b = 10; b <= 20; ++b) d.Histogram[0][size_t(b) + 1] = 1000;
  // Bright point at bin 19, median at bin 15, both relative to bins 3..500.
  const double g1 = std::log(16.0 / 497) / std::log(0.5);
  const double g2 = std::log(12.0 / 497) / std::log(0.1);
  EXPECT_NEAR(EstimateAutoGamma(1, 500, 0), 1 / (0.5 / g1 + 0.5 / g2), 1e-4);
}

TEST_F(DisplayHistogramTest, AutoGammaStaysBetweenOneAndFive) {
  MakeGreySlot(1, 1, 1, {0}, 0, 500);
  TDisplayRecord& d = Store.Display[1];
  d.RangeLow = 0;
  d.RangeHigh = 500;
  EXPECT_EQ(EstimateAutoGamma(1, 500, 0), 1.0f);  // empty histogram
  d.Histogram[0][501] = 100;                     // everything at the top
  const float top = EstimateAutoGamma(1, 500, 0);
  EXPECT_GE(top, 1.0f);
  EXPECT_LE(top, 5.0f);
  d.Histogram[0].fill(0);
  d.Histogram[0][5] = 1000;  // everything in bin 4: bright point at bin 8 (g1 capped at 5), median at 4
  const double g2 = std::log(1.0 / 497) / std::log(0.1);
  EXPECT_NEAR(EstimateAutoGamma(1, 500, 0), 1 / (0.5 / 5 + 0.5 / g2), 1e-4);
  // Degenerate axes give no logarithm of a position <= 0.
  d.SpanBlackWhite = 1;
  for (int sq = 0; sq <= 1; ++sq) {
    d.SqrtHistogram = uint8_t(sq);
    const float g = EstimateAutoGamma(1, 0, 0);
    EXPECT_GE(g, 1.0f);
    EXPECT_LE(g, 5.0f);
    const float h = EstimateAutoGamma(1, -100, 300);
    EXPECT_GE(h, 1.0f);
    EXPECT_LE(h, 5.0f);
  }
}

int MappingCalls = 0;
double CountingMapping(int slot, const TFrozenHistogramAxis& a, float x) {
  ++MappingCalls;
  return DefaultHistogramXToValue(slot, a, x);
}

TEST_F(DisplayHistogramTest, AutoGammaAsksTheHistogramWindowForValues) {
  MakeGreySlot(1, 1, 1, {0}, 0, 500);
  TDisplayRecord& d = Store.Display[1];
  d.RangeLow = 0;
  d.RangeHigh = 500;
  d.SpanBlackWhite = 1;
  for (int b = 10; b <= 20; ++b) d.Histogram[0][size_t(b) + 1] = 1000;
  const float withDefault = EstimateAutoGamma(1, 500, 0);
  SetHistogramXToValue(CountingMapping);
  MappingCalls = 0;
  EXPECT_EQ(EstimateAutoGamma(1, 500, 0), withDefault);
  EXPECT_EQ(MappingCalls, 2);
  SetHistogramXToValue(nullptr);
  // The default maps the 290-pixel area linearly over the frozen black..white.
  const TFrozenHistogramAxis axis{100, 200, 0, 500};
  EXPECT_DOUBLE_EQ(DefaultHistogramXToValue(1, axis, 145), 150.0);
}

}  // namespace
}  // namespace astrelon::test
