// The brightest box of the working rectangle and the running match quality.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "../pixelops/slot_images.h"
#include "../planes/simd_paths.h"
#include "kernels/alignment/box_search.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/match_quality.h"
#include "store/image_store.h"
#include "store/planes/plane_routines.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BrightestInWorkRectTest : public StoreTest {
protected:
  // A grey w x h image of zeros in slot 1.
  static TImageSlot& Image(int w, int h) {
    TImageSlot& im = Store.Image[1];
    im.Width = w;
    im.Height = h;
    im.AllocatePlanes(1);
    Store.InUse[1] = 1;
    return im;
  }
};

TEST_F(BrightestInWorkRectTest, ClipsTheRectangleAndGivesImageCoordinates) {
  TImageSlot& im = Image(8, 6);
  im.At(1, 6, 4) = 90;  // a single hot pixel loses against a bright 3 x 3 patch
  for (int y = 1; y <= 3; ++y)
    for (int x = 2; x <= 4; ++x) im.At(1, x, y) = 50;
  WorkRect = {-3, 20, -1, 9};
  TBrightestInRect b = FindBrightestInWorkRect(1, 1, 1);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 7);
  EXPECT_EQ(WorkRect.y1, 0);
  EXPECT_EQ(WorkRect.y2, 5);
  EXPECT_EQ(b.BrightestX, 3);
  EXPECT_EQ(b.BrightestY, 2);
  EXPECT_DOUBLE_EQ(b.BrightestValue, 50);
  // Box radius 0 in a rectangle around the hot pixel.
  WorkRect = {5, 7, 3, 5};
  b = FindBrightestInWorkRect(1, 1, 0);
  EXPECT_EQ(b.BrightestX, 6);
  EXPECT_EQ(b.BrightestY, 4);
  EXPECT_DOUBLE_EQ(b.BrightestValue, 90);
  // A plane the image lacks: the rectangle's corner and -1e9.
  b = FindBrightestInWorkRect(1, 2, 0);
  EXPECT_EQ(b.BrightestX, 5);
  EXPECT_DOUBLE_EQ(b.BrightestValue, BlankLimit);
}

TEST_F(BrightestInWorkRectTest, BandsOnThreadsFindTheSameBox) {
  // Small integer values give many boxes of equal mean: the first in row order wins.
  TImageSlot& im = Image(1200, 1000);
  std::mt19937 rng(9);
  for (float& v : im.Planes[1]) v = rng() % 50 == 0 ? BlankPixel : float(rng() % 6);
  for (int32_t radius : {0, 1, 2}) {
    TBrightestInRect one, many;
    {
      test::MulticoreGuard off(false);
      WorkRect = {3, 1190, 2, 997};
      one = FindBrightestInWorkRect(1, 1, radius);
    }
    test::MulticoreGuard on(true);
    WorkRect = {3, 1190, 2, 997};
    many = FindBrightestInWorkRect(1, 1, radius);
    EXPECT_EQ(one.BrightestX, many.BrightestX) << radius;
    EXPECT_EQ(one.BrightestY, many.BrightestY) << radius;
    EXPECT_EQ(one.BrightestValue, many.BrightestValue) << radius;
  }
}

// The pruned search with box sums side by side against the exhaustive search
// pixel by pixel: the same centre and the same bits of the mean, on every
// path and number of bands, for data that make the sums round, ties, blanks,
// NaN, infinities and a hot pixel.
TEST(BoxSearch, FindsTheBoxOfTheExhaustiveSearch) {
  struct TCase {
    const char* Name;
    int32_t W, H;
    std::function<float(std::mt19937&, int32_t, int32_t)> Value;
  };
  std::normal_distribution<float> noise(0.0f, 1.0f);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const TCase cases[] = {
      {"disc in noise", 301, 203,
       [&](std::mt19937& g, int32_t x, int32_t y) {
         const double r = std::hypot(x - 150.3, y - 99.6) / 80.0;
         return float(r < 1 ? 9000.0 * (0.4 + 0.6 * std::sqrt(1 - r * r)) : 300.0) + 20.0f * noise(g);
       }},
      {"values near zero that round", 97, 61,
       [&](std::mt19937& g, int32_t, int32_t) { return noise(g) * (g() % 4 == 0 ? 1e-7f : 1e4f); }},
      {"few levels, many ties", 130, 90, [](std::mt19937& g, int32_t, int32_t) { return float(g() % 3); }},
      {"blanks and NaN", 77, 55,
       [&](std::mt19937& g, int32_t, int32_t) {
         const unsigned k = g() % 10;
         return k == 0 ? BlankPixel : k == 1 ? nan : k == 2 ? -1e9f : 50.0f + noise(g);
       }},
      {"hot pixel and infinity", 64, 40,
       [&](std::mt19937& g, int32_t x, int32_t y) {
         return x == 20 && y == 7 ? 65535.0f : x == 50 && y == 30 ? inf : 100.0f + noise(g);
       }},
      {"an earlier box ties a brighter row's best", 30, 60,
       [](std::mt19937&, int32_t x, int32_t y) {
         if (std::abs(x - 5) <= 1 && std::abs(y - 10) <= 1) return 8.0f;
         if (std::abs(x - 20) <= 1 && std::abs(y - 50) <= 1) return x == 20 && y == 50 ? 10.0f : 7.75f;
         return 0.0f;
       }},
      {"all blank", 20, 12, [](std::mt19937&, int32_t, int32_t) { return BlankPixel; }},
      {"one row", 40, 1, [&](std::mt19937& g, int32_t, int32_t) { return noise(g); }},
  };
  for (const TCase& c : cases) {
    std::mt19937 g(11);
    const int64_t stride = c.W + 3;
    std::vector<float> data(size_t(stride) * size_t(c.H), -7.0f);
    for (int32_t y = 0; y < c.H; ++y)
      for (int32_t x = 0; x < c.W; ++x) data[size_t(y * stride + x)] = c.Value(g, x, y);
    for (int32_t r : {0, 1, 2, 4}) {
      int32_t ex = 0, ey = 0;
      float ev = 0;
      FindBrightestPixel(data, c.W, c.H, stride, r, ex, ey, ev, false);
      for (TPath path : AvailablePaths())
        for (int threads : {1, 3, 8}) {
          PathGuard guard(path);
          int32_t x = -1, y = -1;
          float v = 0;
          FindBrightestBox(data, c.W, c.H, stride, r, x, y, v, guard.Vector(), threads);
          const std::string what = std::string(c.Name) + " r " + std::to_string(r) + " " + PathName(path) + " " +
                                   std::to_string(threads) + " bands";
          EXPECT_EQ(x, ex) << what;
          EXPECT_EQ(y, ey) << what;
          EXPECT_EQ(std::memcmp(&v, &ev, sizeof v), 0) << what << ": " << v << " " << ev;
        }
    }
  }
}

TEST(BoxSearch, FloatSumsAreExactWhenTheExponentsLieCloseTogether) {
  EXPECT_TRUE(FloatSumsExact(0, 0, 9));
  EXPECT_TRUE(FloatSumsExact(65535, 1, 9));        // 16-bit levels
  EXPECT_TRUE(FloatSumsExact(20000, 6000, 8192));  // a disc above its threshold
  EXPECT_FALSE(FloatSumsExact(1e7, 1e-3, 9));  // 24 significant bits at very different scales
  EXPECT_FALSE(FloatSumsExact(std::numeric_limits<double>::infinity(), 1, 9));
  EXPECT_FALSE(FloatSumsExact(1, 0, 9));
  // The bound itself: 2^24 - 1 and 1 differ by 24 bits; 2^5 terms need 5 more.
  EXPECT_TRUE(FloatSumsExact(16777215, 1, 1 << 5));
  EXPECT_FALSE(FloatSumsExact(16777215, 1.0 / (1 << 24), 1 << 5));
}

TEST(MatchQuality, KeepsTheLowestQuality) {
  MatchQuality = 99.0;
  LowerMatchQuality(40);
  LowerMatchQuality(70);
  EXPECT_EQ(MatchQuality, 40);
  MatchQuality = 99.0;
}

}  // namespace
}  // namespace astrelon::test
