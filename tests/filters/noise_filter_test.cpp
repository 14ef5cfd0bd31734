// Edge-preserving noise filter: its weight tables, a direct evaluation of the
// weighted mean (window clipped at the edges, large differences left out, the
// range index held at 255), colour images guided by one plane, blanks, and the
// same bits on every path and thread count.
#include <cmath>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "../planes/simd_paths.h"
#include "filter_images.h"
#include "filters/dialog/filter_state.h"
#include "filters/noise/noise_filter.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

class NoiseFilter : public test::KernelTest {
protected:
  void Run(float threshold, float radius, float cauchy, TWorkRect rect) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    ASSERT_TRUE(ApplyNoiseFilter(1, 2, threshold, radius, cauchy, rect, poll));
  }
  static float Out(int x, int y, int p = 1) { return Store.Image[2].At(p, x, y); }
  static float In(int x, int y, int p = 1) { return Store.Image[1].At(p, x, y); }
};

TEST(NoiseFilterTables, ProfilesCutOffAndWindow) {
  const TNoiseFilterTables gauss = NoiseFilterTables(10, 2, 0);
  EXPECT_EQ(gauss.Range[0], 1.0f);
  EXPECT_NEAR(gauss.Range[25], std::exp(-1.0), 1e-7);
  EXPECT_NEAR(gauss.Spatial[20], std::exp(-1.0), 1e-7);
  const TNoiseFilterTables cauchy = NoiseFilterTables(10, 2, 1);
  EXPECT_EQ(cauchy.Range[0], 1.0f);
  EXPECT_EQ(cauchy.Range[16], 0.5f);
  EXPECT_EQ(NoiseFilterTables(10, 2.5f, 1).Spatial[16], 0.5f);
  // The dialog's defaults: radius 3.25 and a quarter Cauchy give a 13 x 13 window.
  const TNoiseFilterTables defaults = NoiseFilterTables(1, 3.25f, 0.25f);
  EXPECT_EQ(defaults.Cutoff, 61);
  EXPECT_EQ(defaults.Reach, 6);
  for (float radius : {10.0f, 100.0f, 1e6f}) {
    const TNoiseFilterTables t = NoiseFilterTables(1, radius, 1);
    EXPECT_EQ(t.Cutoff, 150);
    EXPECT_EQ(t.Reach, 15);
  }
  EXPECT_EQ(NoiseFilterTables(1, 0, 0.5f).Reach, 0);
  // k and the largest difference: 7 / (t + 0.001) and j0 t / 7 rounded.
  const TNoiseFilterTables t = NoiseFilterTables(0.025f, 10, 0);
  EXPECT_FLOAT_EQ(t.RangeScale, 7.0f / 0.026f);
  EXPECT_EQ(t.MaxDifference, 1.0f);
  EXPECT_EQ(NoiseFilterDistance(3, 4), 50);
  EXPECT_EQ(NoiseFilterDistance(1, 1), 14);
}

// The weighted mean of one plane, straight from the definition.
float Direct(int x, int y, int w, int h, const TNoiseFilterTables& t, const std::vector<float>& g,
             const std::vector<float>& v) {
  const float g0 = g[size_t(y * w + x)];
  double sum = 0, weight = 0;
  for (int dy = -std::min(t.Reach, y); dy <= std::min(t.Reach, h - 1 - y); ++dy)
    for (int dx = -std::min(t.Reach, x); dx <= std::min(t.Reach, w - 1 - x); ++dx) {
      const int d = int(std::nearbyint(10 * std::sqrt(double(dx * dx + dy * dy))));
      const size_t i = size_t((y + dy) * w + x + dx);
      const double diff = std::fabs(double(g[i]) - g0);
      if (d > t.Cutoff || !IsValidPixel(g[i]) || !(diff < t.MaxDifference) || !IsValidPixel(v[i])) continue;
      const int index = std::min(int(std::nearbyint(diff * t.RangeScale)), 255);
      sum += double(t.Range[size_t(index)]) * t.Spatial[size_t(d)] * v[i];
      weight += double(t.Range[size_t(index)]) * t.Spatial[size_t(d)];
    }
  return weight > 0 ? float(sum / weight) : v[size_t(y * w + x)];
}

TEST_F(NoiseFilter, WeightedMeanOfSimilarNeighbours) {
  // Noise on a step: the step stays, the noise goes; some differences pass 255 on the range index.
  const int w = 40, h = 30;
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(0, 0.3f);
  test::MakeGrey(1, w, h, [&](int x, int y) {
    if (x == 7 && y == 9) return BlankPixel;
    return (x > 20 ? 50.0f : 10.0f) + noise(rng);
  });
  const std::vector<float> in(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  for (const auto& [threshold, radius, cauchy] : {std::tuple{1.5f, 3.25f, 0.25f}, std::tuple{0.9f, 10.0f, 0.0f},
                                                  std::tuple{4.0f, 1.5f, 1.0f}, std::tuple{0.025f, 10.0f, 0.0f}}) {
    Run(threshold, radius, cauchy, test::WholeImage(1));
    const TNoiseFilterTables t = NoiseFilterTables(threshold, radius, cauchy);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_NEAR(Out(x, y), Direct(x, y, w, h, t, in, in), 2e-5f * 50) << threshold << " " << x << "," << y;
  }
  EXPECT_EQ(Out(7, 9), BlankPixel);
  EXPECT_NEAR(Out(25, 15), 50.0f, 0.3f);
  // A threshold of 0 admits nothing: the image stays.
  Run(0, 3, 0, test::WholeImage(1));
  EXPECT_TRUE(std::equal(in.begin(), in.end(), Store.Image[2].Planes[1].begin(), [](float a, float b) {
    return a == b || (!IsValidPixel(a) && !IsValidPixel(b));
  }));
}

TEST_F(NoiseFilter, ColourFollowsTheGuidePlaneOnSelectedChannels) {
  // Red has an edge the green guide does not see: red is smoothed across it.
  const int w = 24, h = 20;
  test::MakeImage(1, w, h, 3, [](int p, int x, int y) {
    if (p == 1) return x < 12 ? 0.0f : 100.0f;
    if (p == 2) return float((x * 3 + y * 5) % 4);
    return x < 12 ? 20.0f : 80.0f;
  });
  Store.Display[1].ChannelSelection = 1;  // red only
  Store.Display[2].ChannelSelection = 1;
  test::MakeResult(1, 2);
  Store.Display[2].ChannelSelection = 1;
  TFilterPoll poll;
  ASSERT_TRUE(ApplyNoiseFilter(1, 2, 30, 3, 0, test::WholeImage(1), poll));
  const std::vector<float> g(Store.Image[1].Planes[2].begin(), Store.Image[1].Planes[2].end());
  const std::vector<float> r(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end());
  const TNoiseFilterTables t = NoiseFilterTables(30, 3, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ASSERT_NEAR(Out(x, y, 1), Direct(x, y, w, h, t, g, r), 1e-3f);
      ASSERT_EQ(Out(x, y, 3), In(x, y, 3));
    }
  EXPECT_GT(Out(11, 10, 1), 10.0f);
  // With a blur slot its first plane guides instead.
  FilterBlurSlot = 5;
  test::MakeImage(5, w, h, 1, [](int, int x, int) { return x < 12 ? 0.0f : 1000.0f; });
  test::MakeResult(1, 2);
  Store.Display[2].ChannelSelection = 1;
  ASSERT_TRUE(ApplyNoiseFilter(1, 2, 30, 3, 0, test::WholeImage(1), poll));
  EXPECT_EQ(Out(11, 10, 1), 0.0f);
  FilterBlurSlot = -1;
}

TEST_F(NoiseFilter, EveryPathAndThreadCountGivesTheSameBits) {
  std::mt19937 rng(8);
  std::normal_distribution<float> noise(0, 2);
  test::MakeImage(1, 130, 70, 3, [&](int p, int x, int y) {
    if ((x * 5 + y * 3 + p) % 89 == 0) return BlankPixel;
    return 100.0f * p + (x > 60 ? 30.0f : 0.0f) + noise(rng);
  });
  std::map<int, std::vector<float>> first;
  for (const TPath path : test::AvailablePaths())
    for (bool multi : {false, true})
      for (int channels : {0, 2}) {
        PathGuard guard(path);
        Options.Multicore = multi;
        Store.Display[1].ChannelSelection = channels;
        test::MakeResult(1, 2);
        TFilterPoll poll;
        ASSERT_TRUE(ApplyNoiseFilter(1, 2, 5, 4, 0.3f, {2, 125, 1, 66}, poll));
        std::vector<float> all;
        for (int p = 1; p <= 3; ++p)
          all.insert(all.end(), Store.Image[2].Planes[size_t(p)].begin(), Store.Image[2].Planes[size_t(p)].end());
        std::vector<float>& ref = first[channels];
        if (ref.empty())
          ref = all;
        else
          ASSERT_TRUE(all == ref) << test::PathName(path) << " " << multi << " " << channels;
      }
}

}  // namespace
}  // namespace astrelon
