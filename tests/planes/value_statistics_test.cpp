#include "store/planes/value_statistics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/processor_features.h"
#include "store/image_slot.h"

namespace astrelon {
namespace {

TEST(ValueStatistics, PercentileInterpolatesAndLeavesTheValuesSorted) {
  std::vector<float> v{3, 1, 2};
  EXPECT_EQ(Percentile(v, 0.5), 2.0f);
  EXPECT_EQ(v, (std::vector<float>{1, 2, 3}));
  std::vector<float> w{40, 0, 30, 10, 20};
  EXPECT_EQ(Percentile(w, 0.25), 10.0f);
  EXPECT_EQ(Percentile(w, 0.3), 12.0f);
  EXPECT_EQ(Percentile(w, 0.0), 0.0f);
  EXPECT_EQ(Percentile(w, 1.0), 40.0f);  // the largest, nothing read beyond the end
  std::vector<float> one{8};
  EXPECT_EQ(Percentile(one, 0.5), 8.0f);
  EXPECT_EQ(Percentile({}, 0.5), BlankPixel);
}

TEST(ValueStatistics, SelectionGivesTheSamePercentileAsSorting) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> u(-50, 50);
  std::normal_distribution<float> sky(1000, 20);
  const bool savedSse2 = Sse2Enabled;
  for (int n : {2, 3, 10, 101, 600, 4096, 5000}) {
    // Kinds: rounded (ties), cubed (long runs at the bin ends), sky with a few stars.
    for (int kind : {0, 1, 2}) {
      std::vector<float> a(static_cast<size_t>(n));
      for (float& x : a) x = kind == 0 ? std::round(u(rng)) : kind == 1 ? u(rng) * u(rng) * u(rng) : sky(rng);
      if (kind == 2)
        for (size_t i = 0; i < a.size(); i += 97) a[i] = 30000.0f + float(i);
      if (n == 600 && kind == 1) a[7] = std::numeric_limits<float>::quiet_NaN();
      if (n == 4096 && kind == 1) a[9] = std::numeric_limits<float>::infinity();
      for (double f : {0.0, 0.1, 0.5, 0.77, 0.999, 1.0})
        for (bool vector : {false, true}) {
          Sse2Enabled = vector;
          std::vector<float> s = a, t = a;
          const float sorted = Percentile(s, f), selected = PercentileSelect(t, f);
          EXPECT_TRUE(sorted == selected || (std::isnan(sorted) && std::isnan(selected)))
              << n << " " << f << " " << kind << " " << vector << ": " << sorted << " " << selected;
          // A guess of the range only speeds the search up: near, far off, inverted,
          // empty, beyond the largest float, tiny.
          constexpr float Big = std::numeric_limits<float>::max(), Inf = std::numeric_limits<float>::infinity();
          const std::pair<float, float> hints[] = {{990, 1010}, {-20, 20}, {5000, 6000}, {10, -10},
                                                   {1000, 1000}, {-Big, Big}, {-Inf, Inf}, {0, 1e-30f}};
          for (auto [low, high] : hints) {
            std::vector<float> h = a;
            const float hinted = PercentileSelect(h, f, low, high);
            EXPECT_TRUE(std::bit_cast<uint32_t>(hinted) == std::bit_cast<uint32_t>(selected) ||
                        (std::isnan(hinted) && std::isnan(selected)))
                << n << " " << f << " " << kind << " " << vector << " hint " << low << ".." << high << ": "
                << selected << " " << hinted;
          }
        }
    }
  }
  Sse2Enabled = savedSse2;
}

TEST(ValueStatistics, SortingSortedAndEqualInputIsQuick) {
  // A last-element-pivot quicksort would recurse a million levels deep here.
  std::vector<float> v(1'000'000);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i);
  EXPECT_EQ(Percentile(v, 0.5), 499999.5f);
  std::vector<float> same(1'000'000, 4.0f);
  EXPECT_EQ(Percentile(same, 0.9), 4.0f);
}

TEST(ValueStatistics, SortFloatsSortsOnlyTheRange) {
  std::vector<float> v{9, 5, 4, 3, 0};
  SortFloats(v, 1, 3);
  EXPECT_EQ(v, (std::vector<float>{9, 3, 4, 5, 0}));
  SortFloats(v, 3, 1);  // empty range
  EXPECT_EQ(v, (std::vector<float>{9, 3, 4, 5, 0}));
}

TEST(ValueStatistics, SortIndicesOrdersByValue) {
  const std::vector<float> v{5, 1, 4, 1, 2};
  std::vector<int32_t> idx{0, 1, 2, 3, 4};
  SortIndices(v, idx);
  EXPECT_EQ(idx, (std::vector<int32_t>{1, 3, 4, 2, 0}));
  std::vector<int32_t> bad{0, 9};
  EXPECT_THROW(SortIndices(v, bad), std::out_of_range);
}

TEST(ValueStatistics, MeanWithoutExtremes) {
  EXPECT_EQ(MeanWithoutExtremes(std::vector<float>{1, 2, 3, 100}), 2.5f);
  EXPECT_EQ(MeanWithoutExtremes(std::vector<float>{100, 2, 2, 2, -100}), 2.0f);
  EXPECT_EQ(MeanWithoutExtremes(std::vector<float>{1, 4}), 2.5f);
  EXPECT_EQ(MeanWithoutExtremes(std::vector<float>{7}), 7.0f);
  EXPECT_EQ(MeanWithoutExtremes({}), BlankPixel);
}

TEST(ValueStatistics, RobustMeanRejectsAnOutlier) {
  std::vector<float> v(10, 10.0f);
  v.push_back(1000.0f);
  for (bool vector : {false, true}) {
    double var = -1;
    EXPECT_EQ(RobustMean(v, &var, vector), 10.0f);
    EXPECT_DOUBLE_EQ(var, 0.001);  // variance floor
  }
}

TEST(ValueStatistics, RobustMeanOfFewValues) {
  double var = -1;
  EXPECT_EQ(RobustMean({}, &var), BlankPixel);
  EXPECT_EQ(RobustMean(std::vector<float>{6}, &var), 6.0f);
  EXPECT_EQ(RobustMean(std::vector<float>{6, 9}, &var), 7.5f);
  EXPECT_EQ(var, -1.0);  // not written for one or two values
}

TEST(ValueStatistics, RobustMeanPathsAgreeToTheLastBit) {
  std::mt19937 rng(4);
  std::normal_distribution<float> g(100, 10);
  for (int n : {3, 4, 7, 8, 9, 33, 5000}) {
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) x = g(rng);
    v[size_t(n / 2)] = 400.0f;
    double var1 = 0, var2 = 0;
    const float a = RobustMean(v, &var1, false);
    const float b = RobustMean(v, &var2, true);
    EXPECT_EQ(std::bit_cast<uint32_t>(a), std::bit_cast<uint32_t>(b)) << n;
    EXPECT_EQ(std::bit_cast<uint64_t>(var1), std::bit_cast<uint64_t>(var2)) << n;
    if (n == 5000) {
      EXPECT_NEAR(a, 100.0f, 1.0f);
      EXPECT_NEAR(std::sqrt(var1), 10.0, 1.0);
    }
  }
}

TEST(ValueStatistics, Log10TableCoversOneTo4096) {
  EXPECT_EQ(Log10Table(1), 0.0f);
  EXPECT_FLOAT_EQ(Log10Table(1000), 3.0f);
  EXPECT_FLOAT_EQ(Log10Table(4096), float(std::log10(4096.0)));
}

}  // namespace
}  // namespace astrelon
