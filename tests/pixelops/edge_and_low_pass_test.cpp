// The cross edge image and the windowed-sinc low pass: exact values, blank
// pixels, the kernel's shape and limits, scipy as reference, the half-pixel
// shift, and the same bits at every thread count.
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

#include "kernels/sampling/low_pass2.h"
#include "numpy_oracle.h"
#include "pixelops/spatial/cross_edges.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class EdgeAndLowPassTest : public StoreTest {};

TEST_F(EdgeAndLowPassTest, CrossEdgesOfACellAConstantAndBesideABlank) {
  PutImage(1, 2, 2, {{1, 0, 0, 4}});
  PutImage(2, 2, 2, {{1, 0, 0, 4}});
  CrossEdges(1, 2);
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{3, 0, 0, 0}));

  // A constant gives 0; a blank pixel stays blank and leaves 0 where it was needed.
  std::vector<float> flat(16, 7.0f);
  flat[5] = BlankPixel;
  PutImage(1, 4, 4, {flat, std::vector<float>(16, 2.0f), std::vector<float>(16, 9.0f)});
  PutImage(2, 4, 4, {flat, std::vector<float>(16, 2.0f), std::vector<float>(16, 9.0f)});
  Store.Image[1].At(2, 2, 2) = 5.0f;
  CrossEdges(1, 2);
  for (size_t i = 0; i < 16; ++i) EXPECT_EQ(Plane(2, 1)[i], i == 5 ? BlankPixel : 0.0f) << i;
  EXPECT_FLOAT_EQ(Store.Image[2].At(2, 1, 1), 3.0f);  // a = 2, d = 5
  EXPECT_FLOAT_EQ(Store.Image[2].At(2, 2, 1), 3.0f);  // b − c = 2 − 5
  EXPECT_FLOAT_EQ(Store.Image[2].At(2, 2, 2), 3.0f);
  EXPECT_EQ(Store.Image[2].At(2, 3, 3), 0.0f);
}

TEST_F(EdgeAndLowPassTest, KernelShapeAndLimits) {
  const std::vector<float> k = LowPass2Kernel({0.5, 2.0, 0.0});
  ASSERT_EQ(k.size(), 11u);
  EXPECT_EQ(k[5], 1.0f);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(k[i], k[10 - i]) << i;
  // x = π i / 2: sin(x)/x · sin(x/4) · 4/x at i = 1.
  const double x = std::numbers::pi / 2;
  EXPECT_FLOAT_EQ(k[6], float(std::sin(x) / x * std::sin(x / 4) * 4 / x));
  // A cut-off above 4 acts as 4, steepness and shift are limited too.
  EXPECT_EQ(LowPass2Kernel({9, 2, 0}), LowPass2Kernel({4, 2, 0}));
  EXPECT_EQ(LowPass2Kernel({0.5, 50, 3}), LowPass2Kernel({0.5, 10, 1}));
  EXPECT_EQ(LowPass2Kernel({0.01, 10, 0}).size(), 31u);  // at most 15 taps a side
  // With a shift the kernel is not symmetric.
  const std::vector<float> s = LowPass2Kernel({0.5, 2.0, 0.5});
  EXPECT_NE(s[4], s[6]);
}

TEST_F(EdgeAndLowPassTest, LowPassEqualsScipyInsideAndKeepsBlanks) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy not installed";
  const int w = 37, h = 23;
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(0, 100);
  std::vector<float> a(size_t(w * h));
  for (float& v : a) v = u(gen);
  NumpyOracle np;
  np.Put("a", std::vector<double>(a.begin(), a.end()));
  ASSERT_TRUE(np.Run("from scipy import ndimage\n"
                     "a = np.fromfile(d + 'a.f64').reshape(23, 37)\n"
                     "i = np.arange(-5, 6)\n"
                     "x = np.pi * i * 0.5\n"
                     "with np.errstate(all='ignore'):\n"
                     "    k = np.where(x == 0, 1.0, np.sin(x) / x * np.sin(x / 4) * 4 / x)\n"
                     "k /= k.sum()\n"
                     "ndimage.correlate1d(a, k, axis=1).tofile(d + 'rows.f64')\n"
                     "ndimage.correlate1d(a, k, axis=0).tofile(d + 'columns.f64')"));
  for (const bool rows : {true, false}) {
    PutImage(1, w, h, {a});
    ApplyLowPass2(1, rows, 0.0, 2.0, 0.5);
    const std::vector<double> ref = np.Get(rows ? "rows" : "columns");
    const auto got = Plane(1, 1);
    for (int y = rows ? 0 : 5; y < (rows ? h : h - 5); ++y)
      for (int x = rows ? 5 : 0; x < (rows ? w - 5 : w); ++x)
        ASSERT_NEAR(got[size_t(y * w + x)], ref[size_t(y * w + x)], 1e-3) << rows << " " << x << "," << y;
  }

  // A blank stays blank; its neighbours are the mean of the valid values (a
  // constant stays constant at the line ends too).
  std::vector<float> flat(size_t(w * h), 50.0f);
  flat[size_t(3 * w + 4)] = BlankPixel;
  PutImage(1, w, h, {flat});
  ApplyLowPass2(1, true, 0.3, 2.0, 0.5);
  ApplyLowPass2(1, false, 0.0, 3.0, 0.7);
  const auto got = Plane(1, 1);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], i == size_t(3 * w + 4) ? BlankPixel : 50.0f, 1e-3) << i;
}

TEST_F(EdgeAndLowPassTest, HalfPixelShiftMovesASine) {
  const int w = 128;
  std::vector<float> line(w);
  auto wave = [](double x) { return float(std::sin(2 * std::numbers::pi * x / 32)); };
  for (int x = 0; x < w; ++x) line[size_t(x)] = wave(x);
  PutImage(1, w, 1, {line});
  ApplyLowPass2(1, true, 0.5, 2.0, 0.5);
  const auto got = Plane(1, 1);
  for (int x = 16; x < w - 16; ++x) ASSERT_NEAR(got[size_t(x)], wave(x - 0.5), 0.02) << x;
}

TEST_F(EdgeAndLowPassTest, SameBitsOnEveryPathAndThreadCount) {
  const int w = 613, h = 411;
  std::mt19937 gen(9);
  std::uniform_real_distribution<float> u(-10, 1000);
  std::vector<float> a(size_t(w * h));
  for (size_t i = 0; i < a.size(); ++i) a[i] = i % 101 == 0 ? BlankPixel : u(gen);
  std::vector<float> results[3];
  for (const int run : {0, 1, 2}) {
    MulticoreGuard guard(run > 0);
    const bool vector = run == 2;
    PutImage(1, w, h, {a});
    PutImage(2, w, h, {a});
    ApplyLowPass2(1, true, 0.2, 2.0, 0.4, vector);
    ApplyLowPass2(1, false, -0.3, 1.5, 0.6, vector);
    CrossEdges(1, 2);
    results[run] = Plane(1, 1);
    const auto edges = Plane(2, 1);
    results[run].insert(results[run].end(), edges.begin(), edges.end());
  }
  for (const int run : {1, 2}) {
    ASSERT_EQ(results[0].size(), results[run].size());
    EXPECT_EQ(0, std::memcmp(results[0].data(), results[run].data(), results[0].size() * sizeof(float))) << run;
  }

  // A row of the plane gives the bits of the same line filtered alone.
  std::vector<float> clean(a.begin(), a.begin() + 3 * w);
  for (float& v : clean) v = IsValidPixel(v) ? v : 1.0f;
  PutImage(1, w, 3, {clean});
  ApplyLowPass2(1, true, 0.2, 2.0, 0.4, true);
  std::vector<float> scratch, line(clean.begin() + w, clean.begin() + 2 * w);
  LowPass2Line(LowPass2Kernel({0.4, 2.0, 0.2}), line.data(), w, scratch, false);
  EXPECT_EQ(0, std::memcmp(line.data(), Plane(1, 1).data() + w, line.size() * sizeof(float)));
}

}  // namespace
}  // namespace astrelon::test
