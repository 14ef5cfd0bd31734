// Star-trail back-calculation: the smoothing half-width per trail width,
// blank rows and the pixels outside the rectangle, trails made by scipy's
// uniform filter coming back narrower, the same result on every thread count,
// and the abort flag.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "common/engine_ui.h"
#include "core/settings.h"
#include "filter_images.h"
#include "filters/corrections/star_trail_back_calculation.h"
#include "filters/dialog/filter_state.h"
#include "scipy_oracle.h"
#include "test_support.h"

namespace astrelon {
namespace {

class StarTrail : public test::KernelTest {
protected:
  bool Run(int w, float threshold, TWorkRect rect) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    return StrichspurZurueckrechnen(1, 2, w, threshold, rect, poll);
  }
  static float Out(int x, int y) { return Store.Image[2].At(1, x, y); }
  static float In(int x, int y) { return Store.Image[1].At(1, x, y); }
};

TEST(StarTrailWindow, HalfWidthPerTrailWidth) {
  const struct {
    int W, K;
  } cases[] = {{1, 0}, {2, 1}, {4, 1}, {5, 1}, {9, 2}, {80, 8}, {121, 10}, {400, 10}, {0, 0}};
  for (const auto& c : cases) EXPECT_EQ(StarTrailHalfWidth(c.W), c.K) << c.W;
}

// Background 100 with noise and point stars; the sharp plane and the trailed one.
struct TTrailField {
  int W = 96, H = 64;
  std::vector<float> Sharp;
  std::vector<std::pair<int, int>> Stars;
};
TTrailField PointStars(unsigned seed) {
  TTrailField f;
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 1.0f);
  f.Sharp.assign(size_t(f.W * f.H), 0);
  for (float& v : f.Sharp) v = 100 + noise(rng);
  for (int k = 0; k < 6; ++k) {
    const int x = 20 + 12 * k, y = 10 + 8 * k;
    f.Stars.push_back({x, y});
    f.Sharp[size_t(y * f.W + x)] += 4000;
  }
  return f;
}

// Second moment along the row of a star's excess over 100 in columns x - 12 .. x + 12.
double RowWidth(int slot, int x, int y) {
  double s = 0, s1 = 0, s2 = 0;
  for (int u = x - 12; u <= x + 12; ++u) {
    const double v = std::max(0.0, double(Store.Image[size_t(slot)].At(1, u, y)) - 110);
    s += v;
    s1 += v * u;
    s2 += v * u * u;
  }
  if (s <= 0) return 0;
  const double m = s1 / s;
  return std::sqrt(std::max(0.0, s2 / s - m * m));
}

TEST_F(StarTrail, TrailsFromTheUniformFilterComeBackNarrower) {
  if (!test::HaveScipy()) GTEST_SKIP() << "scipy is not installed";
  const TTrailField f = PointStars(3);
  for (const int w : {5, 9}) {
    // Trailing mean over w pixels: the uniform filter's window shifted to end at the pixel.
    const std::vector<float> trailed = test::ScipyPlane(
        f.Sharp, f.W, f.H,
        "out = ndimage.uniform_filter1d(a, size=" + std::to_string(w) + ", axis=1, mode='nearest', origin=" +
            std::to_string((w - 1) / 2) + ")");
    ASSERT_EQ(trailed.size(), f.Sharp.size());
    test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return trailed[size_t(y * f.W + x)]; });
    ASSERT_TRUE(Run(w, 1.0f, test::WholeImage(1)));
    for (const auto& [x, y] : f.Stars) {
      const double before = RowWidth(1, x, y), after = RowWidth(2, x, y);
      EXPECT_LT(after, 0.8 * before) << "w " << w << " star " << x << "," << y;
      EXPECT_GT(after, 0.0) << "the star is kept";
    }
  }
}

TEST_F(StarTrail, BlankRowsStayAndOutsideTheRectangleNothingChanges) {
  const TTrailField f = PointStars(5);
  test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return y == 30 ? BlankPixel : f.Sharp[size_t(y * f.W + x)]; });
  const TWorkRect rect{10, 70, 5, 50};
  ASSERT_TRUE(Run(7, 1.0f, rect));
  int changed = 0;
  for (int y = 0; y < f.H; ++y)
    for (int x = 0; x < f.W; ++x) {
      const bool inside = x >= rect.x1 && x <= rect.x2 && y >= rect.y1 && y <= rect.y2;
      if (y == 30) EXPECT_FALSE(IsValidPixel(Out(x, y))) << x;
      else if (!inside) EXPECT_EQ(Out(x, y), In(x, y)) << x << "," << y;
      else changed += Out(x, y) != In(x, y);
    }
  EXPECT_GT(changed, 0);
}

TEST_F(StarTrail, SameResultOnOneThreadAndAllCores) {
  const TTrailField f = PointStars(7);
  test::MakeGrey(1, 600, 500, [&](int x, int y) { return f.Sharp[size_t((y % f.H) * f.W + x % f.W)]; });
  TPlane first;
  for (const int multi : {0, 1}) {
    Options.Multicore = multi;
    ASSERT_TRUE(Run(9, 0.5f, test::WholeImage(1)));
    if (first.empty()) first = Store.Image[2].Planes[1];
    else EXPECT_EQ(first, Store.Image[2].Planes[1]);
  }
}

TEST_F(StarTrail, AbortStopsTheRunAndIsReported) {
  const TTrailField f = PointStars(9);
  test::MakeGrey(1, f.W, f.H, [&](int x, int y) { return f.Sharp[size_t(y * f.W + x)]; });
  AbortRequested = 1;
  EXPECT_FALSE(Run(5, 1.0f, test::WholeImage(1)));
  EXPECT_TRUE(FilterAborted);
}

}  // namespace
}  // namespace astrelon
