// The wavelet noise filter: noise removed from a flat field in both
// computations, blank pixels kept out of the data, the hardness curve, an
// abort in the middle, levels too small for an interior, and the same bits
// with one thread and with all.
#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_patch_search.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_threshold_curve.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

class WaveletFilter : public test::StoreTest {
protected:
  void TearDown() override {
    FreePyramid(0);
    SetEngineUi(nullptr);
    AbortRequested = 0;
    Options.Multicore = multicore_;
    test::StoreTest::TearDown();
  }
  // Slot 1: flat 100 with Gaussian noise of sigma 10 (and the given blanks); slot 2 its copy.
  static void NoisyFlat(int side, unsigned seed = 3) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> noise(0, 10);
    test::MakeImage(1, side, side, 1, [&](int, int, int) { return 100 + noise(rng); });
    test::MakeImage(2, side, side, 1, [](int x, int y, int) { return Store.Image[1].At(1, x, y); });
  }
  static TRectI Whole(int side) { return {0, 0, side - 1, side - 1}; }
  // Build, filter and rebuild slot 1 into slot 2 with the defaults.
  static bool Filter(int side, bool better) {
    EXPECT_TRUE(BuildPyramid(1, 0, 4, Whole(side)));
    TWaveletFilterOptions o;
    o.Better = better;
    const bool done = PyramidNoiseFilter(1, 0, 1, o, 2, Whole(side));
    CollapsePyramid(0, 2, 1, 4, std::array<float, 5>{1, 1, 1, 1, 1}, Whole(side));
    return done;
  }
  // Mean and standard deviation of slot 2's valid pixels away from the edge.
  static std::pair<double, double> Stats(int side) {
    double s = 0, s2 = 0, n = 0;
    for (int y = 4; y < side - 4; ++y)
      for (int x = 4; x < side - 4; ++x) {
        const double v = Store.Image[2].At(1, x, y);
        if (!IsValidPixel(float(v))) continue;
        s += v;
        s2 += v * v;
        ++n;
      }
    const double mean = s / n;
    return {mean, std::sqrt(s2 / n - mean * mean)};
  }
  uint8_t multicore_ = Options.Multicore;
};

TEST_F(WaveletFilter, FlatNoiseFallsBelowSixInBothComputations) {
  for (const bool better : {false, true}) {
    SCOPED_TRACE(better ? "better" : "plain");
    NoisyFlat(96);
    ASSERT_TRUE(Filter(96, better));
    const auto [mean, sigma] = Stats(96);
    EXPECT_NEAR(mean, 100, 0.5);
    EXPECT_LT(sigma, 6);
    EXPECT_GT(sigma, 0.1);  // filtered, not wiped
  }
}

TEST_F(WaveletFilter, BlankPixelsStayBlankAndKeepTheDetailAroundThem) {
  // A bright square on the noisy field, with blank pixels beside it: the same
  // field without the blanks gives nearly the same square.
  for (const bool better : {false, true}) {
    SCOPED_TRACE(better ? "better" : "plain");
    auto scene = [](bool blanks) {
      NoisyFlat(64, 9);
      for (int y = 20; y < 30; ++y)
        for (int x = 20; x < 30; ++x) Store.Image[1].At(1, x, y) += 500;
      if (blanks)
        for (const auto& [x, y] : std::vector<std::pair<int, int>>{{18, 22}, {40, 40}, {41, 40}, {31, 25}})
          Store.Image[1].At(1, x, y) = BlankPixel;
      UpdateMinMax(1);
      test::MakeImage(2, 64, 64, 1, [](int x, int y, int) { return Store.Image[1].At(1, x, y); });
    };
    scene(false);
    Filter(64, better);
    const std::vector<float> clean = test::PlaneValues(2, 1);
    scene(true);
    Filter(64, better);
    EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 18, 22)));
    EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, 40, 40)));
    double square = 0;
    for (int y = 22; y < 28; ++y)
      for (int x = 22; x < 28; ++x) {
        square += Store.Image[2].At(1, x, y) / 36.0;
        EXPECT_NEAR(Store.Image[2].At(1, x, y), clean[size_t(y * 64 + x)], 30) << x << "," << y;
      }
    EXPECT_NEAR(square, 600, 20);
  }
}

TEST_F(WaveletFilter, HardnessSetsTheCurvesPowerAndLimit) {
  const double t = 2, c = 1.5;
  const TThresholdCurve hard = MakeThresholdCurve(3, t, c), soft = MakeThresholdCurve(0, t, c);
  EXPECT_EQ(hard.K, 1);
  EXPECT_DOUBLE_EQ(hard.Limit, t * c);
  EXPECT_EQ(hard.Table.size(), 502u);
  EXPECT_EQ(soft.K, 4);
  EXPECT_DOUBLE_EQ(soft.Limit, 4 * t * c);
  EXPECT_EQ(soft.Table.size(), 2002u);
  for (const TThresholdCurve* curve : {&hard, &soft}) {
    // From 0 up to the limit, where it meets the values left as they are.
    EXPECT_DOUBLE_EQ(curve->Table[0], 0);
    EXPECT_NEAR(curve->Table[size_t(500 * curve->K)], curve->Limit, 1e-9);
    for (double f : curve->Table) EXPECT_GE(f, 0);
  }
  std::vector<float> v{0.5f, -0.5f, float(t * c * 1.01), -1000.0f, BlankPixel, 0.0f};
  ApplyThresholdCurve(hard, v);
  EXPECT_FLOAT_EQ(v[0], float(hard.Table[size_t(std::nearbyint(0.5 * 500 / (t * c)))]));
  EXPECT_FLOAT_EQ(v[1], -v[0]);
  EXPECT_FLOAT_EQ(v[2], float(t * c * 1.01));
  EXPECT_EQ(v[3], -1000.0f);
  EXPECT_EQ(v[4], BlankPixel);
  EXPECT_EQ(v[5], 0.0f);
  // Out-of-range indexes are clamped.
  EXPECT_EQ(MakeThresholdCurve(7, t, c).K, 1);
  EXPECT_EQ(MakeThresholdCurve(-2, t, c).K, 4);
}

TEST_F(WaveletFilter, QuantisedCopyIsClampedAndMarksBlanks) {
  const std::vector<int16_t> q = QuantiseLevel(std::vector<float>{1.5f, 2.5f, -1.0f, 1e6f, -1e6f, BlankPixel}, 2.0);
  EXPECT_EQ(q, (std::vector<int16_t>{3, 5, -2, 32767, -32768, PatchBlank}));
}

TEST_F(WaveletFilter, LevelsWithoutInteriorGetOnlyTheBorderStep) {
  // A one-row rectangle: every level has one row, which alone is thresholded.
  test::MakeImage(1, 9, 3, 1, [](int x, int, int) { return float(x % 3) * 10; });
  test::MakeImage(2, 9, 3, 1, [](int, int, int) { return 0.0f; });
  const TRectI row{0, 1, 8, 1};
  ASSERT_TRUE(BuildPyramid(1, 0, 4, row));
  EXPECT_EQ(PyramidSets[0].Levels[1][0].Height, 1);
  TWaveletFilterOptions o;
  ASSERT_TRUE(PyramidNoiseFilter(1, 0, 1, o, 2, row));
  CollapsePyramid(0, 2, 1, 4, std::array<float, 5>{1, 1, 1, 1, 1}, row);
  for (int x = 0; x < 9; ++x) {
    EXPECT_EQ(Store.Image[2].At(1, x, 0), 0.0f);
    EXPECT_EQ(Store.Image[2].At(1, x, 2), 0.0f);
    EXPECT_TRUE(std::isfinite(Store.Image[2].At(1, x, 1)));
  }
}

TEST_F(WaveletFilter, AbortLeavesTheLevelBeingFilteredAsItWas) {
  NoisyFlat(96);
  ASSERT_TRUE(BuildPyramid(1, 0, 4, Whole(96)));
  const std::vector<float> level0 = PyramidSets[0].Levels[1][0].Data;
  test::HookUi ui;
  ui.Hook = [](int calls) {
    if (calls == 2) AbortRequested = 1;
  };
  SetEngineUi(&ui);
  TWaveletFilterOptions o;
  EXPECT_FALSE(PyramidNoiseFilter(1, 0, 1, o, 2, Whole(96)));
  EXPECT_EQ(PyramidSets[0].Levels[1][0].Data, level0);
  EXPECT_GE(ui.Calls, 2);
}

TEST_F(WaveletFilter, FilteredLevelsHoldNoMoreThanTheirValues) {
  // The pyramid stays at its own size: no level keeps a larger level's buffer.
  NoisyFlat(96);
  ASSERT_TRUE(Filter(96, false));
  for (const TPyramidLevel& level : PyramidSets[0].Levels[1]) EXPECT_EQ(level.Data.capacity(), level.Data.size());
}

TEST_F(WaveletFilter, OneThreadAndAllCoresGiveTheSameBits) {
  for (const bool better : {false, true}) {
    SCOPED_TRACE(better ? "better" : "plain");
    std::vector<float> results[2];
    for (int multicore = 0; multicore <= 1; ++multicore) {
      Options.Multicore = uint8_t(multicore);
      NoisyFlat(200, 11);
      Filter(200, better);
      results[multicore] = test::PlaneValues(2, 1);
    }
    EXPECT_EQ(results[0], results[1]);
  }
}

}  // namespace
}  // namespace astrelon
