// Joining a second image onto a target: canvas growth, edge-distance masks,
// brightness matching and the blend of the overlap.
#include <cmath>
#include <cstdlib>
#include <random>

#include "core/settings.h"
#include "registration/combination/two_image_mosaic.h"
#include "store/planes/interpolation_kernels.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

std::vector<float> Noisy(int w, int h, float level, float sigma, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> d(level, sigma);
  std::vector<float> v(size_t(w) * size_t(h));
  for (float& x : v) x = d(gen);
  return v;
}

// City-block distance to the nearest blank pixel (or, with borderIsEdge, to
// just outside the image), capped at 100, by brute force.
int BruteDistance(const std::vector<float>& p, int w, int h, int x, int y, bool borderIsEdge) {
  if (!(p[size_t(y * w + x)] > -1e9f)) return 0;
  int best = 100;
  if (borderIsEdge) best = std::min({best, x + 1, y + 1, w - x, h - y});
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i)
      if (!(p[size_t(j * w + i)] > -1e9f)) best = std::min(best, std::abs(i - x) + std::abs(j - y));
  return best;
}

using TwoImageMosaicTest = StoreTest;

TEST_F(TwoImageMosaicTest, MasksAreCappedCityBlockDistances) {
  const int w = 150, h = 130;
  std::vector<float> p(size_t(w * h), 5.0f);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((x < 12 && y > 30) || (x == 70 && y == 60) || (x + y > 240)) p[size_t(y * w + x)] = -1e11f;
  p[size_t(5 * w + 100)] = std::nanf("");
  for (bool edge : {false, true}) {
    const std::vector<uint8_t> m = EdgeDistanceMask(p, w, h, edge);
    ASSERT_EQ(m.size(), size_t(w * h));
    int wrong = 0;
    for (int y = 1; y + 1 < h; ++y)
      for (int x = 1; x + 1 < w; ++x)
        if (m[size_t(y * w + x)] != BruteDistance(p, w, h, x, y, edge)) ++wrong;
    EXPECT_EQ(wrong, 0) << "borderIsEdge " << edge;
    EXPECT_EQ(m[size_t(5 * w + 100)], 0);
    EXPECT_EQ(m[0], edge ? 1 : 100);
  }
}

// The mask as two raster sweeps over the interior on one thread: the border
// keeps its start values and feeds its neighbours.
std::vector<uint8_t> SweptMask(const std::vector<float>& p, int w, int h, bool borderIsEdge) {
  std::vector<uint8_t> m(p.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool valid = p[size_t(y * w + x)] > -1e9f;
      const bool border = y == 0 || y + 1 == h || x == 0 || x + 1 == w;
      m[size_t(y * w + x)] = !valid ? 0 : borderIsEdge && border ? 1 : 100;
    }
  if (w < 3 || h < 3) return m;
  auto relax = [](uint8_t& d, uint8_t n) { d = std::min<uint8_t>(d, uint8_t(n + 1)); };
  for (int y = 1; y + 1 < h; ++y)
    for (int x = 1; x + 1 < w; ++x) {
      relax(m[size_t(y * w + x)], m[size_t((y - 1) * w + x)]);
      relax(m[size_t(y * w + x)], m[size_t(y * w + x - 1)]);
    }
  for (int y = h - 2; y >= 1; --y)
    for (int x = w - 2; x >= 1; --x) {
      relax(m[size_t(y * w + x)], m[size_t((y + 1) * w + x)]);
      relax(m[size_t(y * w + x)], m[size_t(y * w + x + 1)]);
    }
  return m;
}

// Sizes down to one row or column, sparse and dense blanks (blank corners
// included), with and without the border as an edge, on one thread and on
// bands of rows and columns: the same bytes as the two sweeps.
TEST_F(TwoImageMosaicTest, MasksOnBandsEqualTheRasterSweeps) {
  const TProgramOptions saved = Options;
  std::mt19937 gen(5);
  struct Size {
    int w, h;
  };
  for (const Size sz : {Size{1, 1}, Size{2, 9}, Size{9, 2}, Size{3, 3}, Size{1, 40}, Size{40, 3}, Size{230, 300},
                        Size{517, 211}})
    for (int density : {0, 3, 60, 4000})
      for (bool edge : {false, true}) {
        std::vector<float> p(size_t(sz.w * sz.h), 7.0f);
        for (float& v : p)
          if (density > 0 && int(gen() % unsigned(density)) == 0) v = -1e11f;
        if (density == 60) p.front() = p.back() = -1e11f;
        const std::vector<uint8_t> want = SweptMask(p, sz.w, sz.h, edge);
        for (bool multi : {false, true}) {
          Options.Multicore = multi;
          EXPECT_EQ(EdgeDistanceMask(p, sz.w, sz.h, edge), want)
              << sz.w << "x" << sz.h << " density " << density << " edge " << edge << " multi " << multi;
        }
      }
  Options = saved;
}

TEST_F(TwoImageMosaicTest, MarginsForShiftsAndRotations) {
  struct Case {
    int count;
    TFloatPoint a1, a2, b1, b2;
    TMosaicMargins want;
  };
  const Case cases[] = {
      {0, {}, {}, {}, {}, {0, 20, 0, 0}},
      {1, {10, 10}, {}, {30, 10}, {}, {20, 0, 0, 0}},
      {1, {30, 40}, {}, {10, 10}, {}, {0, 40, 0, 30}},
      // Half a turn about the centre of equal images: the corners land on the
      // target's corners.
      {2, {0, 0}, {99, 79}, {99, 79}, {0, 0}, {0, 0, 0, 0}},
      // Coinciding points count as one pair.
      {2, {10, 10}, {10.2f, 10}, {30, 10}, {30, 10}, {20, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const int sw = c.count == 2 && c.a2.X > 50 ? 100 : 120;
    const TMosaicMargins m = MosaicMargins(100, 80, sw, 80, c.count, c.a1, c.a2, c.b1, c.b2);
    EXPECT_EQ(m.Left, c.want.Left) << c.count;
    EXPECT_EQ(m.Right, c.want.Right) << c.count;
    EXPECT_EQ(m.Top, c.want.Top) << c.count;
    EXPECT_EQ(m.Bottom, c.want.Bottom) << c.count;
  }
}

TEST_F(TwoImageMosaicTest, JoinsAtTopLeftWithoutMarks) {
  MakeImage(1, 100, 80, {std::vector<float>(8000, 100.0f)});
  MakeImage(2, 120, 60, {std::vector<float>(7200, 300.0f)});
  MakeMosaic(1, 2, false, {}, {}, {}, {}, 0);
  const TImageSlot& T = Store.Image[1];
  ASSERT_EQ(T.Width, 120);
  ASSERT_EQ(T.Height, 80);
  const std::vector<float> v = PlaneValues(1, 1);
  // The second image is levelled to the target: S' = 100 everywhere.
  EXPECT_FLOAT_EQ(v[size_t(10 * 120 + 110)], 100.0f);
  EXPECT_FLOAT_EQ(v[size_t(70 * 120 + 110)], -1e11f);
  EXPECT_FLOAT_EQ(v[size_t(70 * 120 + 50)], 100.0f);
  EXPECT_FLOAT_EQ(v[size_t(30 * 120 + 50)], 100.0f);
}

TEST_F(TwoImageMosaicTest, ShiftGrowsLeftAndBlendsDeepOverlapEqually) {
  const int w = 400, h = 300;
  // A scene with structure; T sees it at (x, y), S at (x + 20, y) brighter by 50.
  auto scene = [](int x, int y) { return 1000.0f + 3.0f * float(x % 37) + 2.0f * float(y % 23); };
  std::vector<float> t(size_t(w * h)), s(size_t(w * h));
  const std::vector<float> noiseT = Noisy(w, h, 0, 1, 1), noiseS = Noisy(w, h, 0, 1, 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      t[size_t(y * w + x)] = scene(x + 20, y) + noiseT[size_t(y * w + x)];
      s[size_t(y * w + x)] = scene(x, y) + 50.0f + noiseS[size_t(y * w + x)];
    }
  for (bool contrast : {false, true}) {
    MakeImage(1, w, h, {t});
    MakeImage(2, w, h, {s});
    // Point (10, 10) of T is point (30, 10) of S: S lies 20 columns left of T.
    MakeMosaic(1, 2, contrast, {10, 10}, {}, {30, 10}, {}, 1);
    ASSERT_EQ(Store.Image[1].Width, w + 20);
    const std::vector<float> v = PlaneValues(1, 1);
    const int gw = w + 20;
    // Left of T only S, levelled onto T: the scene plus T's level.
    EXPECT_NEAR(v[size_t(150 * gw + 5)], scene(5, 150), 4.0) << contrast;
    // Deep in the overlap (>= 100 from both edges) the mean of T and S'.
    double worst = 0;
    for (int y = 120; y < 180; ++y)
      for (int X = 150; X < 250; ++X) {
        const float tv = t[size_t(y * w + X - 20)], sv = s[size_t(y * w + X)] - 50.0f;
        worst = std::max(worst, std::abs(double(v[size_t(y * gw + X)]) - 0.5 * (tv + sv)));
      }
    EXPECT_LT(worst, contrast ? 0.6 : 0.1) << contrast;
    // T's first column (T's mask 1 next to the blank margin, S's mask 21):
    // nearly S'.
    const float edge = v[size_t(150 * gw + 20)];
    const float sPrime = s[size_t(150 * w + 20)] - 50.0f;
    EXPECT_NEAR(edge, sPrime, 2.5) << contrast;
  }
}

// FNV-1a hash of the bytes of the mosaic's size and planes.
uint64_t MosaicHash(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  uint64_t h = 1469598103934665603ull;
  auto add = [&](const void* p, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ static_cast<const uint8_t*>(p)[i]) * 1099511628211ull;
  };
  add(&im.Width, sizeof im.Width);
  add(&im.Height, sizeof im.Height);
  for (int p = 1; p <= im.PlaneCount; ++p) add(im.Planes[size_t(p)].data(), im.Planes[size_t(p)].size() * sizeof(float));
  return h;
}

// Rotated, shifted and whole-pixel joins with blank islands, grey and colour,
// on one thread and on several: the same bytes every time, and the bytes the
// routine has always given (the hashes were taken from the version that sampled
// every pixel twice and swept the masks on one thread).
TEST_F(TwoImageMosaicTest, RotatedJoinsGiveTheSameBytesOnAnyThreadCount) {
  const int w = 230, h = 170;
  auto plane = [&](unsigned seed, bool islands) {
    std::vector<float> v = Noisy(w, h, 800, 30, seed);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        v[size_t(y * w + x)] += 400.0f * float(std::sin(x * 0.05) * std::cos(y * 0.07));
        if (islands && ((x % 53 < 6 && y % 41 < 5) || x < 4)) v[size_t(y * w + x)] = -1e11f;
      }
    return v;
  };
  struct Case {
    int count, kind, planes;
    TFloatPoint a1, a2, b1, b2;
    bool contrast;
    uint64_t hash;
  };
  const Case cases[] = {
      {2, IkBicubic, 1, {20, 30}, {200, 150}, {35.5f, 12.2f}, {212.0f, 140.0f}, false, 0x54297db268e87ed9},
      {2, IkBicubic, 3, {20, 30}, {200, 150}, {5.5f, 42.2f}, {190.0f, 155.0f}, true, 0x9a90f668d2fa18f8},
      {1, IkBicubic, 1, {60, 60}, {}, {20.3f, 70.6f}, {}, true, 0x3652cd7eafc367e1},
      {1, IkBicubic, 1, {60, 60}, {}, {80, 40}, {}, false, 0xc8817eb8bd4554dd},
  };
  const TProgramOptions saved = Options;
  for (const Case& c : cases) {
    Settings.InterpolationKind = c.kind;
    uint64_t first = 0;
    for (bool multi : {false, true}) {
      Options.Multicore = multi;
      std::vector<std::vector<float>> t, s;
      for (int p = 0; p < c.planes; ++p) t.push_back(plane(10 + p, true)), s.push_back(plane(20 + p, true));
      MakeImage(1, w, h, t);
      MakeImage(2, w, h, s);
      if (c.planes == 3)
        for (int slot : {1, 2}) Store.Image[size_t(slot)].IsColor = 1, Store.Image[size_t(slot)].ColorModel = CmRgb;
      MakeMosaic(1, 2, c.contrast, c.a1, c.a2, c.b1, c.b2, c.count);
      const uint64_t hash = MosaicHash(1);
      if (!multi) first = hash;
      EXPECT_EQ(hash, first) << "case " << (&c - cases);
      EXPECT_EQ(hash, c.hash) << "case " << (&c - cases);
    }
  }
  Options = saved;
}

}  // namespace
}  // namespace astrelon::test
