// Shift sharpening and the experimental filters: the Sobel magnitude against
// scipy, sources that come back unchanged, the frame that never changes, one
// thread and all cores, a blurred edge made steeper, the text anti-aliasing
// rules on a diagonal step, the ring map, the two parameter searches and the
// synthetic magnitude test.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "filter_images.h"
#include "filters/experimental/magnitude_test.h"
#include "filters/experimental/parameter_search.h"
#include "filters/experimental/ring_significance.h"
#include "filters/experimental/shift_resample.h"
#include "filters/experimental/shift_sharpening.h"
#include "filters/experimental/text_aa_filter.h"
#include "scipy_oracle.h"
#include "test_support.h"

namespace astrelon {
namespace {

using TShiftFn = bool (*)(int, int, double, double);

class ShiftSharpen : public test::KernelTest {
protected:
  static void Noisy(int slot, int w, int h, int planes, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0, 1000);
    test::MakeImage(slot, w, h, planes, [&](int, int x, int y) { return (x / 7 + y / 5) % 2 ? 800 + u(rng) / 10 : u(rng); });
  }
  static const TPlane& Plane(int slot, int p = 1) { return Store.Image[size_t(slot)].Planes[size_t(p)]; }
};

TEST_F(ShiftSharpen, SobelMagnitudeMatchesScipy) {
  if (!test::HaveScipy()) GTEST_SKIP() << "scipy is not installed";
  Noisy(1, 37, 23, 1, 1);
  const std::vector<float> m = SobelMagnitude(Plane(1), 37, 23);
  const std::vector<float> oracle =
      test::ScipyPlane(Plane(1), 37, 23, "out = np.hypot(ndimage.sobel(a, axis=0), ndimage.sobel(a, axis=1))");
  ASSERT_EQ(oracle.size(), m.size());
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      const size_t i = size_t(y * 37 + x);
      const bool frame = x == 0 || y == 0 || x == 36 || y == 22;
      if (frame) EXPECT_EQ(m[i], 0.0f);
      else EXPECT_NEAR(m[i], oracle[i], 1e-3f * (1 + oracle[i])) << x << "," << y;
    }
}

TEST_F(ShiftSharpen, SourcesThatComeBackUnchanged) {
  const struct {
    const char* Name;
    TShiftFn Fn;
    bool Flat;
    double MaxShift, Strength;
  } cases[] = {
      {"gradient, no shift", SharpenByGradientShift, false, 0.0, 1.0},
      {"gradient, flat", SharpenByGradientShift, true, 1.0, 1.0},
      {"similar neighbours, no shift", ShiftSharpenImage, false, 0.0, 1.5},
      {"similar neighbours, flat", ShiftSharpenImage, true, 0.4, 1.5},
  };
  for (const auto& c : cases) {
    for (const int planes : {1, 3}) {
      if (c.Flat) test::MakeImage(1, 30, 20, planes, [](int p, int, int) { return 50.0f * p; });
      else Noisy(1, 30, 20, planes, 2);
      test::MakeResult(1, 2);
      ASSERT_TRUE(c.Fn(1, 2, c.MaxShift, c.Strength)) << c.Name;
      for (int p = 1; p <= planes; ++p) EXPECT_EQ(Plane(2, p), Plane(1, p)) << c.Name << " plane " << p;
    }
  }
}

TEST_F(ShiftSharpen, FrameNeverChangesAndThreadsGiveTheSameBits) {
  for (const TShiftFn fn : {SharpenByGradientShift, ShiftSharpenImage}) {
    Noisy(1, 420, 300, 3, 4);
    Store.Image[1].At(2, 40, 40) = BlankPixel;
    TPlane first;
    for (const int multi : {0, 1}) {
      Options.Multicore = multi;
      test::MakeResult(1, 2);
      ASSERT_TRUE(fn(1, 2, 3.0, 5.0));
      const TImageSlot &s = Store.Image[1], &d = Store.Image[2];
      int changed = 0;
      for (int p = 1; p <= 3; ++p)
        for (int y = 0; y < 300; ++y)
          for (int x = 0; x < 420; ++x) {
            if (x == 0 || y == 0 || x == 419 || y == 299) ASSERT_EQ(d.At(p, x, y), s.At(p, x, y));
            else changed += d.At(p, x, y) != s.At(p, x, y);
          }
      EXPECT_GT(changed, 1000);
      EXPECT_EQ(d.At(2, 40, 40), BlankPixel);
      if (first.empty()) first = d.Planes[2];
      else EXPECT_EQ(first, d.Planes[2]);
    }
  }
}

// Width between the 10 % and 90 % levels of a rising edge along row y.
double EdgeWidth(int slot, int y, int w) {
  auto at = [&](int x) { return double(Store.Image[size_t(slot)].At(1, x, y)); };
  double a = 0, b = 0;
  for (int x = 1; x < w - 1; ++x) {
    const double v0 = at(x - 1), v1 = at(x);
    if (v0 < 10 && v1 >= 10) a = x - 1 + (10 - v0) / (v1 - v0);
    if (v0 < 90 && v1 >= 90) b = x - 1 + (90 - v0) / (v1 - v0);
  }
  return b - a;
}

TEST(ShiftResample, VectorRowsGiveTheBitsOfTheScalarOnes) {
  constexpr int W = 67, H = 9;
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(0, 100), shift(-1.3f, 1.3f);
  std::vector<std::vector<float>> planes(3, std::vector<float>(W * H));
  for (auto& p : planes)
    for (float& v : p) v = u(rng) < 3 ? BlankPixel : u(rng);
  std::vector<float> dx(W), dy(W);
  for (int x = 0; x < W; ++x) {
    dx[size_t(x)] = x % 11 == 0 ? shift(rng) : shift(rng) / 1.3f;
    dy[size_t(x)] = x % 13 == 0 ? 0.0f : shift(rng) / 1.3f;
  }
  std::vector<std::vector<float>> out[2];
  for (int path = 0; path < 2; ++path) {
    out[path] = planes;
    TShiftPlanes p;
    p.Count = 3;
    for (size_t k = 0; k < 3; ++k) {
      p.View[k] = {planes[k].data(), W, H};
      p.Out[k] = out[path][k].data();
    }
    for (int y = 1; y < H - 1; ++y) ResampleShiftedRow(p, y, dx.data(), dy.data(), path == 1);
  }
  EXPECT_EQ(out[0], out[1]);
  // Sobel rows likewise.
  std::vector<float> a(W), b(W);
  for (int y = 1; y < H - 1; ++y) {
    const float* c = planes[0].data() + y * W;
    SobelRow(c - W, c, c + W, a.data(), W, false);
    SobelRow(c - W, c, c + W, b.data(), W, true);
    EXPECT_EQ(a, b) << y;
  }
}

TEST_F(ShiftSharpen, BlurredEdgesBecomeSteeper) {
  // Along the gradient of the edge strength: a smooth edge gets narrower.
  test::MakeGrey(1, 40, 9, [](int x, int) { return float(50 + 50 * std::tanh((x - 19.5) / 3.0)); });
  test::MakeResult(1, 2);
  ASSERT_TRUE(SharpenByGradientShift(1, 2, 0.5, 1.5));
  EXPECT_LT(EdgeWidth(2, 4, 40), EdgeWidth(1, 4, 40) - 0.1);
  // By similar neighbours: the pixels between two plateaus move towards the nearer one.
  test::MakeGrey(1, 12, 7, [](int x, int) { return x < 5 ? 0.0f : x == 5 ? 20.0f : x == 6 ? 80.0f : 100.0f; });
  test::MakeResult(1, 2);
  ASSERT_TRUE(ShiftSharpenImage(1, 2, 0.4, 1.5));
  EXPECT_LT(Store.Image[2].At(1, 5, 3), 20.0f);
  EXPECT_GT(Store.Image[2].At(1, 6, 3), 80.0f);
  EXPECT_EQ(Store.Image[2].At(1, 2, 3), 0.0f);
}

TEST(TextAntiAlias, PixelRules) {
  const struct {
    float C;
    TTextNeighbours N;
    float Expected;
  } cases[] = {
      // A bright corner pixel: every edge neighbour dark, three diagonals bright.
      {100, {0, 0, 0, 0, 100, 100, 100, 0}, 100 - 0.3333f * 25},
      {0, {100, 100, 100, 100, 0, 0, 0, 100}, 0 + 0.3333f * 25},
      // Three dark edges, one bright diagonal.
      {100, {0, 0, 0, 100, 100, 0, 0, 0}, 100 - 0.6666f * 25},
      // A bright pixel on a straight vertical edge: L dark, R bright, U and D bright.
      {100, {0, 100, 100, 100, 0, 100, 0, 100}, 100},
      // Constant.
      {7, {7, 7, 7, 7, 7, 7, 7, 7}, 7},
  };
  for (const auto& c : cases) EXPECT_FLOAT_EQ(TextAntiAliasPixel(c.C, c.N), c.Expected) << c.C;
}

TEST(TextAntiAlias, DiagonalStepChangesOnlyTheTwoLinesBesideIt) {
  constexpr int W = 24, H = 20, S = 21;
  std::vector<float> in(W * H), out;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) in[size_t(y * W + x)] = x + y > S ? 100.0f : 0.0f;
  out = in;
  TextAntiAliasPlane(in, out, W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool interior = x > 0 && y > 0 && x < W - 1 && y < H - 1;
      float expected = in[size_t(y * W + x)];
      if (interior && x + y == S + 1) expected = 75;
      if (interior && x + y == S) expected = 25;
      EXPECT_EQ(out[size_t(y * W + x)], expected) << x << "," << y;
    }
  // A constant plane stays.
  std::vector<float> flat(W * H, 3.0f), copy = flat;
  TextAntiAliasPlane(flat, copy, W, H);
  EXPECT_EQ(copy, flat);
}

TEST(RingSignificance, FlatBackgroundBrightRingAndBlanks) {
  constexpr int W = 31, H = 25;
  std::vector<float> in(W * H, 10.0f), out(W * H, -5.0f);
  in[0] = BlankPixel;
  RingSignificancePlane(in, out, W, H, 10.0f, 1.0f);
  EXPECT_EQ(out[0], -5.0f);
  for (size_t i = 1; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;
  // A ring of radius 3 around (15, 12) lifts the centre's score above its neighbours'.
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      if (std::nearbyint(std::hypot(x - 15, y - 12)) == 3) in[size_t(y * W + x)] = 50;
  RingSignificancePlane(in, out, W, H, 10.0f, 1.0f);
  EXPECT_GT(out[12 * W + 15], 0.0f);
  EXPECT_GT(out[12 * W + 15], out[12 * W + 19]);
  EXPECT_EQ(RingPixelCount(0), 1);
  EXPECT_EQ(RingPixelCount(1), 8);
}

TEST(ParameterSearch, CoefficientStepsTurnBackAndHalve) {
  TCoefficientSearch s;
  EXPECT_DOUBLE_EQ(s.Propose()[0], 0.0);
  s.Report(5);  // better: next coefficient
  EXPECT_EQ(s.Index, 1);
  EXPECT_NEAR(s.Propose()[1], -0.0014, 1e-12);
  s.Report(6);  // worse upwards: undone, then downwards
  EXPECT_NEAR(s.C[1], -0.0214, 1e-12);
  EXPECT_EQ(s.Direction, -1);
  EXPECT_NEAR(s.Propose()[1], -0.0414, 1e-12);
  s.Report(5);  // equal downwards: undone, step halved, next coefficient
  EXPECT_NEAR(s.C[1], -0.0214, 1e-12);
  EXPECT_DOUBLE_EQ(s.Step[1], 0.01);
  EXPECT_EQ(s.Index, 2);
  EXPECT_EQ(s.Direction, 1);
  s.Index = 3;
  s.Propose();
  s.Report(1);
  EXPECT_EQ(s.Index, 0);  // after c3 comes c0
  const TNeighbourWeights w = CoefficientWeights({2.8, -1.4, 0.28, 0});
  EXPECT_FLOAT_EQ(w.Direct, 1.0f);
  EXPECT_FLOAT_EQ(w.Diagonal, -0.5f);
  EXPECT_FLOAT_EQ(w.Straight2, 0.1f);
}

TEST(ParameterSearch, ShiftAndStrengthAlternate) {
  TShiftSearch s;
  EXPECT_NEAR(s.Propose()[0], 0.37, 1e-12);
  s.Report(3);
  EXPECT_NEAR(s.Propose()[0], 0.39, 1e-12);
  s.Report(4);  // worse: back to 0.37, step reversed
  EXPECT_NEAR(s.MaximumShift, 0.37, 1e-12);
  EXPECT_NEAR(s.Propose()[0], 0.35, 1e-12);
  s.Report(3);  // equal: back, the step positive again, the strength's turn
  EXPECT_FALSE(s.ChangingShift);
  EXPECT_NEAR(s.StrengthStep, 0.1 * 0.666666666667, 1e-12);
  const auto [shift, strength] = s.Propose();
  EXPECT_NEAR(shift, 0.37, 1e-12);
  EXPECT_NEAR(strength, 0.5 + 0.1 * 0.666666666667, 1e-12);
  EXPECT_DOUBLE_EQ(s.Best, 3);
}

TEST(ParameterSearch, RmsOverTheMarginAndValidPairs) {
  std::vector<float> a(16, 1.0f), b(16, 1.0f);
  b[5] = 4;  // inside a margin of 1
  b[0] = 100;
  a[6] = BlankPixel;
  EXPECT_DOUBLE_EQ(PlaneRmsDifference(a, b, 4, 4, 1), std::sqrt(9.0 / 3));
  EXPECT_DOUBLE_EQ(PlaneRmsDifference(a, a, 4, 4, 0), 0.0);
}

class MagnitudeTest : public test::KernelTest {};

TEST_F(MagnitudeTest, PlotAndMeasuredMagnitudesFollowTheTrueOnes) {
  for (const bool lowPass : {false, true}) {
    TMagnitudeTestSettings s;
    s.StarRadius = 2.0;
    s.Subpixel = 3.25;
    s.LowPass = lowPass;
    std::vector<TMagnitudePoint> points;
    ASSERT_TRUE(MakeMagnitudeTest(1, s, &points));
    const TImageSlot& im = Store.Image[1];
    EXPECT_EQ(im.Width, 200);
    EXPECT_EQ(im.Height, 120);
    EXPECT_EQ(im.PlaneCount, 1);
    EXPECT_EQ(Store.FileName[1], "Mag-Test.png");
    EXPECT_EQ(Store.Display[1].Black, -10000.0f);
    EXPECT_EQ(Store.Display[1].White, 20000.0f);
    EXPECT_FALSE(SlotInUse(2)) << "the star slot is freed";
    ASSERT_EQ(points.size(), 39u);
    for (size_t i = 1; i < points.size(); ++i) {
      EXPECT_NEAR(points[i].True - points[i - 1].True, -0.25, 1e-6);
      EXPECT_LT(points[i].Measured, points[i - 1].Measured) << "k " << points[i].K;
    }
    EXPECT_EQ(im.At(1, 40, 119 - 57), 20000.0f) << "the brightest true magnitude at the top of the plot";
    FreeSlot(1);
  }
}

}  // namespace
}  // namespace astrelon
