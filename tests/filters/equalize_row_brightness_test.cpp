// Row levelling: absolute and relative, the measured columns, the strength
// quantile, a second measurement and the preview generation.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "filter_images.h"
#include "filters/corrections/equalize_row_brightness.h"
#include "filters/dialog/filter_state.h"
#include "platform/processor_features.h"
#include "test_support.h"

namespace astrelon {
namespace {

class RowLevelling : public test::KernelTest {
protected:
  bool Run(bool relative, float strength, TColumnRange columns, std::optional<TColumnRange> second = {}) {
    TFilterPoll poll;
    return EqualizeRowBrightness(1, 2, relative, strength, columns, second, poll);
  }
  static float Out(int x, int y) { return Store.Image[2].At(1, x, y); }
};

// A smooth field with a constant offset per row (banding).
float Banded(int x, int y) { return 100.0f + 0.01f * float(x) + float((y * 37) % 11) * 3.0f; }

TEST_F(RowLevelling, AbsoluteModeLevelsRowsOffsetByConstants) {
  test::MakeGrey(1, 40, 12, Banded);
  test::MakeResult(1, 2);
  ASSERT_TRUE(Run(false, 50, {0, 39}));
  // Every row now has the same level (the mean of the row levels).
  for (int y = 1; y < 12; ++y)
    for (int x = 0; x < 40; ++x) EXPECT_NEAR(Out(x, y), Out(x, 0), 1e-3) << x << "," << y;
}

TEST_F(RowLevelling, RelativeModeAccumulatesStepsThatDecay) {
  // Rows 0..1 at 10, rows 2.. at 11: one step of 1 (below 3 T with T = 0.5).
  test::MakeGrey(1, 20, 6, [](int, int y) { return y < 2 ? 10.0f : 11.0f; });
  test::MakeResult(1, 2);
  ASSERT_TRUE(Run(true, 50, {0, 19}));
  // C: row 2 adds the step 1; after each row C = C / 1.1 - 0.04 T (T = 0.5).
  double c = 0, expected[6];
  for (int y = 0; y < 6; ++y) {
    if (y == 2) c += 1.0;
    expected[y] = (y < 2 ? 10.0 : 11.0) - c;
    c = std::max(0.0, c / 1.1 - 0.02);
  }
  for (int y = 0; y < 6; ++y) EXPECT_NEAR(Out(7, y), expected[y], 1e-5) << y;
}

TEST_F(RowLevelling, RowsWithoutMeasuredValuesAndBlanksStay) {
  test::MakeGrey(1, 10, 4, [](int x, int y) {
    if (y == 2 && x < 5) return BlankPixel;  // row 2 has no valid value in columns 0..4
    return float(10 * y + x);
  });
  test::MakeResult(1, 2);
  Store.Image[2].At(1, 7, 2) = 999;  // an old result in the copied row is replaced
  ASSERT_TRUE(Run(false, 50, {0, 4}));
  for (int x = 0; x < 10; ++x) EXPECT_EQ(Out(x, 2), Store.Image[1].At(1, x, 2)) << x;
  EXPECT_EQ(Out(0, 2), BlankPixel);
}

TEST_F(RowLevelling, StrengthZeroAndHundredTakeRowMinimumAndMaximum) {
  // Rows with values 0..9 shifted by 2 y: the minimum is 2 y, the maximum 2 y + 9.
  test::MakeGrey(1, 10, 3, [](int x, int y) { return float(x % 10) * 0.01f + 2.0f * y; });
  for (float strength : {0.0f, 100.0f}) {
    test::MakeResult(1, 2);
    ASSERT_TRUE(Run(false, strength, {0, 9}));
    const int x = strength == 0 ? 0 : 9;  // the row's extreme lands on the mean level
    for (int y = 0; y < 3; ++y) EXPECT_NEAR(Out(x, y), Out(x, 0), 1e-4) << strength << " row " << y;
  }
}

TEST_F(RowLevelling, SecondMeasurementIsAveragedWithTheFirst) {
  // Columns 0..4 carry one banding, columns 5..9 another: the two passes average.
  test::MakeGrey(1, 10, 2, [](int x, int y) { return y == 0 ? 0.0f : (x < 5 ? 0.2f : 0.4f); });
  test::MakeResult(1, 2);
  ASSERT_TRUE(Run(false, 50, {0, 4}, TColumnRange{5, 9}));
  // Pass 1: row 1 lowered by 0.1 (mean level 0.1); pass 2 by 0.2; the mean: 0.15.
  EXPECT_NEAR(Out(0, 1), 0.2f - 0.15f, 1e-6);
  EXPECT_NEAR(Out(0, 0), 0.0f + 0.15f, 1e-6);
}

TEST_F(RowLevelling, SameResultWithOneThreadOrManyAndOnEitherPath) {
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0, 2);
  const bool savedSse2 = Sse2Enabled;
  // A grey image, and a colour mosaic (one checkerboard class brighter) whose
  // measured phase samples every second column.
  for (const bool mosaic : {false, true})
  for (bool relative : {false, true}) {
    test::MakeGrey(1, 700, 500, [&](int x, int y) {
      if ((x * y) % 97 == 0) return BlankPixel;
      return (mosaic && (x + y) % 2 ? 2.0f : 1.0f) * Banded(x, y) + noise(rng);
    });
    std::vector<TPlane> runs;
    for (const auto& [cores, vector] : {std::pair{false, false}, {true, false}, {true, true}}) {
      Options.Multicore = cores ? 1 : 0;
      Sse2Enabled = vector;
      test::MakeResult(1, 2);
      ASSERT_TRUE(Run(relative, 30, {20, 600}, TColumnRange{3, 690}));
      runs.push_back(Store.Image[2].Planes[1]);
    }
    EXPECT_TRUE(runs[0] == runs[1]) << "relative " << relative << " mosaic " << mosaic;
    EXPECT_TRUE(runs[0] == runs[2]) << "relative " << relative << " mosaic " << mosaic;
  }
  Sse2Enabled = savedSse2;
}

TEST_F(RowLevelling, NewerPreviewStopsTheRun) {
  test::MakeGrey(1, 50, 50, Banded);
  test::MakeResult(1, 2);
  TFilterPoll poll;
  poll.WatchGeneration(PreviewGeneration.load() + 1);
  EXPECT_FALSE(EqualizeRowBrightness(1, 2, false, 50, {0, 49}, {}, poll));
}

}  // namespace
}  // namespace astrelon
