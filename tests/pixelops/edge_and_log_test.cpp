// The logarithm of a value range and the Sobel edge image: exact values, blank
// pixels, scipy as reference, and the same bits on every path and thread count.
#include <cmath>
#include <cstring>
#include <random>

#include "numpy_oracle.h"
#include "pixelops/pixels/logarithm.h"
#include "pixelops/spatial/sobel_magnitude.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class EdgeAndLogTest : public StoreTest {};

TEST_F(EdgeAndLogTest, LogarithmMapsTheRangeOntoZeroToHiMinusLo) {
  PutImage(1, 5, 1, {{0, 9, 99, 42, BlankPixel}});
  WholeImageRect(1);
  TakeLogarithm(1);
  const auto v = Plane(1, 1);
  EXPECT_EQ(v[0], 0.0f);
  EXPECT_FLOAT_EQ(v[1], 49.5f);
  EXPECT_FLOAT_EQ(v[2], 99.0f);
  EXPECT_NEAR(v[3], std::log10(43.0) * 49.5, 1e-4);
  EXPECT_EQ(v[4], BlankPixel);

  // A pedestal moves to 0; a constant image becomes 0 everywhere.
  PutImage(2, 3, 1, {{100, 109, 199}});
  WholeImageRect(2);
  TakeLogarithm(2);
  EXPECT_FLOAT_EQ(Plane(2, 1)[1], 49.5f);
  PutImage(3, 3, 1, {{7, 7, BlankPixel}});
  WholeImageRect(3);
  TakeLogarithm(3);
  EXPECT_EQ(Plane(3, 1), (std::vector<float>{0, 0, BlankPixel}));
}

TEST_F(EdgeAndLogTest, LogarithmKeepsPlanesOutsideTheSelectionAndTheRectangle) {
  PutImage(1, 3, 1, {{0, 9, 99}, {0, 9, 99}, {0, 9, 99}});
  Store.Display[1].ChannelSelection = 1;
  WorkRect = {0, 1, 0, 0};
  TakeLogarithm(1);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{0, 49.5f, 99}));
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{0, 9, 99}));
}

TEST_F(EdgeAndLogTest, SobelOfARampAndBesideBlanks) {
  std::vector<float> ramp(7 * 5);
  for (int i = 0; i < 35; ++i) ramp[size_t(i)] = float(i % 7);
  PutImage(1, 7, 5, {ramp});
  PutImage(2, 7, 5, {ramp});
  SobelMagnitude(1, 2);
  const auto v = Plane(2, 1);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 7; ++x) {
      const bool inner = x > 0 && x < 6 && y > 0 && y < 4;
      EXPECT_EQ(v[size_t(y * 7 + x)], inner ? 8.0f : 0.0f) << x << "," << y;
    }

  std::vector<float> holed(12 * 12, 5.0f);
  holed[5 * 12 + 5] = BlankPixel;
  PutImage(3, 12, 12, {holed});
  PutImage(4, 12, 12, {holed});
  SobelMagnitude(3, 4);
  const auto h = Plane(4, 1);
  EXPECT_EQ(h[5 * 12 + 5], BlankPixel);
  for (int y = 4; y <= 6; ++y)
    for (int x = 4; x <= 6; ++x)
      if (x != 5 || y != 5) {
        EXPECT_EQ(h[size_t(y * 12 + x)], 0.0f);
      }
  // A destination of another size is left alone.
  PutImage(5, 6, 6, {std::vector<float>(36, 1.0f)});
  SobelMagnitude(3, 5);
  EXPECT_EQ(Plane(5, 1), std::vector<float>(36, 1.0f));
}

TEST_F(EdgeAndLogTest, SobelInteriorMatchesScipy) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy not installed";
  const int w = 41, h = 29;
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> u(0, 1);
  std::vector<float> a(size_t(w * h));
  for (float& x : a) x = u(gen);
  PutImage(1, w, h, {a});
  PutImage(2, w, h, {a});
  SobelMagnitude(1, 2);
  NumpyOracle np;
  np.Put("a", std::vector<double>(a.begin(), a.end()));
  ASSERT_TRUE(np.Run("from scipy import ndimage\n"
                     "a = np.fromfile(d + 'a.f64').reshape(" + std::to_string(h) + ", " + std::to_string(w) + ")\n"
                     "m = np.hypot(ndimage.sobel(a, axis=0), ndimage.sobel(a, axis=1))\n"
                     "m.tofile(d + 'm.f64')"));
  const std::vector<double> ref = np.Get("m");
  ASSERT_EQ(ref.size(), a.size());
  const auto got = Plane(2, 1);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) ASSERT_NEAR(got[size_t(y * w + x)], ref[size_t(y * w + x)], 1e-4) << x << "," << y;
}

TEST_F(EdgeAndLogTest, SobelPathsAndThreadsGiveTheSameBits) {
  const int w = 301, h = 900;
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-100, 1000);
  std::vector<float> r(size_t(w * h)), g(size_t(w * h));
  for (size_t i = 0; i < r.size(); ++i) {
    r[i] = i % 97 == 0 ? BlankPixel : u(gen);
    g[i] = i % 89 == 0 ? std::nanf("") : u(gen);
  }
  PutImage(1, w, h, {r, g, r});
  std::vector<std::vector<float>> results;
  for (const auto& [vector, multicore] : {std::pair{false, false}, {true, false}, {true, true}, {false, true}}) {
    MulticoreGuard cores(multicore);
    PutImage(2, w, h, {r, g, r});
    SobelMagnitude(1, 2, vector);
    std::vector<float> all;
    for (int p = 1; p <= 3; ++p) {
      const auto v = Plane(2, p);
      all.insert(all.end(), v.begin(), v.end());
    }
    results.push_back(all);
  }
  for (size_t k = 1; k < results.size(); ++k)
    EXPECT_EQ(std::memcmp(results[0].data(), results[k].data(), results[0].size() * sizeof(float)), 0) << k;
  // In place gives the same as into a copy.
  SobelMagnitude(1, 1);
  EXPECT_EQ(std::memcmp(Plane(1, 1).data(), results[0].data(), size_t(w * h) * sizeof(float)), 0);
}

}  // namespace
}  // namespace astrelon::test
