// Star-radius reduction: never above the source, the flat background at 0 %,
// full erosion at 100 % against a direct evaluation, erosion along rows only,
// the same result on every path and thread count, flat images, large radii and
// the abort flag.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "../planes/simd_paths.h"
#include "common/engine_ui.h"
#include "core/settings.h"
#include "filter_images.h"
#include "filters/dialog/filter_state.h"
#include "filters/sharpening/shrink_star_radius.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::PathGuard;
using test::TPath;

class StarRadius : public test::KernelTest {
protected:
  bool Shrink(bool horizontal, float radius, float lower, float hide, TWorkRect rect) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    return ShrinkStarRadius(1, 2, horizontal, radius, lower, hide, rect, poll);
  }
  bool Shrink(bool horizontal, float radius, float lower, float hide) {
    return Shrink(horizontal, radius, lower, hide, test::WholeImage(1));
  }
  static float Out(int x, int y, int p = 1) { return Store.Image[2].At(p, x, y); }
};

// Background 100 with a little noise, Gaussian stars and a few blank pixels.
void StarField(int slot, int w, int h, int planes, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0, 1.5f);
  std::uniform_real_distribution<float> u(0, 1);
  struct Star {
    float X, Y, A, S;
  };
  std::vector<Star> stars;
  for (int k = 0; k < w * h / 900 + 1; ++k) stars.push_back({u(rng) * w, u(rng) * h, 200 + 3000 * u(rng), 0.8f + 2 * u(rng)});
  test::MakeImage(slot, w, h, planes, [&](int p, int x, int y) {
    if ((x * 7 + y * 13 + p) % 211 == 0) return BlankPixel;
    float v = 100 + noise(rng);
    for (const Star& s : stars) {
      const float d2 = (x - s.X) * (x - s.X) + (y - s.Y) * (y - s.Y);
      if (d2 < 100) v += s.A / float(p) * std::exp(-d2 / (2 * s.S * s.S));
    }
    return v;
  });
}

float In(int x, int y) { return Store.Image[1].At(1, x, y); }

// The erosion with one radius t for every pixel, offsets row by row.
float DirectErosion(int x, int y, float t, int reach, int reachV, const TWorkRect& r, float lift) {
  const float c = In(x, y);
  float e = c;
  for (int dy = -reachV; dy <= reachV; ++dy)
    for (int dx = -reach; dx <= reach; ++dx) {
      const int u = x + dx, v = y + dy;
      if (u < r.x1 || u > r.x2 || v < r.y1 || v > r.y2) continue;
      const float w = t - std::sqrt(float(dx * dx + dy * dy));
      const float s = In(u, v);
      if (w > 0 && IsValidPixel(s) && s < e) e = w >= 1 ? s : std::min(e, c + (s - c) * w);
    }
  e += lift;
  return e < c ? e : c;
}

TEST_F(StarRadius, HundredPercentErodesEveryPixelWithTheFullRadius) {
  StarField(1, 90, 70, 1, 3);
  const TWorkRect rect{5, 80, 4, 60};
  for (bool horizontal : {false, true})
    for (float radius : {1.4f, 2.5f, 5.0f}) {
      ASSERT_TRUE(Shrink(horizontal, radius, 0.0f, 100.0f, rect));
      const int reach = int(std::nearbyint(radius)) + 1;
      for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) {
          const bool inside = x >= rect.x1 && x <= rect.x2 && y >= rect.y1 && y <= rect.y2;
          if (!inside || !IsValidPixel(In(x, y))) {
            ASSERT_EQ(Out(x, y), In(x, y)) << x << "," << y;
            continue;
          }
          const float expected = DirectErosion(x, y, radius, reach, horizontal ? 0 : reach, rect, 0.001f);
          ASSERT_NEAR(Out(x, y), expected, 1e-3f) << x << "," << y << " radius " << radius << " h " << horizontal;
        }
    }
}

TEST_F(StarRadius, NeverRaisesAPixelAndKeepsFlatBackgroundAtZeroPercent) {
  StarField(1, 120, 90, 1, 11);
  for (float hide : {0.0f, 10.0f, 100.0f}) {
    ASSERT_TRUE(Shrink(false, 2.0f, 1.0f, hide));
    int changed = 0;
    for (int y = 0; y < 90; ++y)
      for (int x = 0; x < 120; ++x) {
        ASSERT_LE(Out(x, y), In(x, y)) << hide;
        if (Out(x, y) != In(x, y)) ++changed;
      }
    EXPECT_GT(changed, 100) << hide;
  }
  // A star on a flat background at 0 %: its flanks go down towards the ground,
  // its peak and the background away from it stay.
  test::MakeGrey(1, 31, 31, [](int x, int y) {
    return 100.0f + 800.0f * std::exp(-float((x - 15) * (x - 15) + (y - 15) * (y - 15)) / 4.5f);
  });
  ASSERT_TRUE(Shrink(false, 2.0f, 1.0f, 0.0f));
  EXPECT_EQ(Out(15, 15), In(15, 15));
  EXPECT_LT(Out(17, 15), In(17, 15) - 50.0f);
  for (int y = 0; y < 31; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(Out(x, y), In(x, y));
}

TEST_F(StarRadius, HorizontalOnlyErodesAlongRows) {
  // A bright horizontal and a bright vertical line on a dark ground.
  test::MakeGrey(1, 21, 21, [](int x, int y) { return (y == 5 || x == 15) ? 1000.0f : 10.0f; });
  ASSERT_TRUE(Shrink(true, 2.0f, 0.0f, 100.0f));
  EXPECT_EQ(Out(8, 5), 1000.0f);        // its row holds only bright pixels
  EXPECT_LT(Out(15, 12), 100.0f);       // the vertical line goes
  ASSERT_TRUE(Shrink(false, 2.0f, 0.0f, 100.0f));
  EXPECT_LT(Out(8, 5), 100.0f);         // eroded from the rows above and below
}

TEST_F(StarRadius, SameResultOnEveryPathAndThreadCount) {
  StarField(1, 600, 450, 3, 7);
  const TWorkRect rect{3, 590, 2, 440};
  for (bool horizontal : {false, true})
    for (float hide : {0.0f, 30.0f, 100.0f}) {
      TPlane reference;
      for (TPath path : test::AvailablePaths())
        for (uint8_t multicore : {uint8_t(0), uint8_t(1)}) {
          PathGuard guard(path);
          Options.Multicore = multicore;
          ASSERT_TRUE(Shrink(horizontal, 3.7f, 0.8f, hide, rect));
          const TPlane& out = Store.Image[2].Planes[2];
          if (reference.empty()) {
            reference = out;
            continue;
          }
          EXPECT_TRUE(out == reference) << test::PathName(path) << " multicore " << int(multicore) << " hide " << hide
                                        << " horizontal " << horizontal;
        }
    }
}

TEST_F(StarRadius, FlatImagesAndLargeRadii) {
  test::MakeGrey(1, 12, 9, [](int, int) { return 50.0f; });
  ASSERT_TRUE(Shrink(false, 2.0f, 1.0f, 10.0f));
  EXPECT_TRUE(Store.Image[2].Planes[1] == Store.Image[1].Planes[1]);
  // A batch step may ask for any radius: the reach follows the image.
  StarField(1, 60, 50, 1, 2);
  ASSERT_TRUE(Shrink(false, 40.0f, 1.0f, 50.0f));
  for (size_t i = 0; i < Store.Image[1].Planes[1].size(); ++i)
    ASSERT_LE(Store.Image[2].Planes[1][i], Store.Image[1].Planes[1][i]);
}

TEST_F(StarRadius, AbortStopsTheRunAndIsReported) {
  struct TAbortUi : TEngineUi {
    void ProcessMessages() override { AbortRequested = 1; }
  } ui;
  SetEngineUi(&ui);
  StarField(1, 64, 64, 1, 1);
  EXPECT_FALSE(Shrink(false, 2.0f, 1.0f, 10.0f));
  EXPECT_TRUE(FilterAborted);
  AbortRequested = 0;
  SetEngineUi(nullptr);
  EXPECT_TRUE(Shrink(false, 2.0f, 1.0f, 10.0f));
  EXPECT_FALSE(FilterAborted);
}

}  // namespace
}  // namespace astrelon
