// The spread of an image's difference to its goal: numpy's standard deviation
// of the difference inside the border, 0 for a constant difference, blanks
// left out, the same value on the plain and the vector path.
#include "filters/training/image_rms_difference.h"

#include <cmath>
#include <cstring>
#include <random>

#include "../frequency/numpy_oracle.h"
#include "filter_images.h"

namespace astrelon::test {
namespace {

using ImageRmsDifferenceTest = KernelTest;

TEST_F(ImageRmsDifferenceTest, SpreadOfTheDifferenceInsideTheBorder) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy missing";
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(-50.0f, 3000.0f);
  const int w = 37, h = 29;
  MakeImage(1, w, h, 3, [&](int, int, int) { return u(rng); });
  MakeImage(2, w + 4, h, 3, [&](int, int, int) { return u(rng); });  // wider: the common part counts
  NumpyOracle numpy;
  for (int p = 1; p <= 3; ++p) {
    std::vector<double> a, b;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        a.push_back(Store.Image[1].At(p, x, y));
        b.push_back(Store.Image[2].At(p, x, y));
      }
    numpy.Put("a" + std::to_string(p), a);
    numpy.Put("b" + std::to_string(p), b);
  }
  ASSERT_TRUE(numpy.Run(
      "d3 = [(np.fromfile(d + 'a%d.f64' % p) - np.fromfile(d + 'b%d.f64' % p)).reshape(" + std::to_string(h) + ", " +
      std::to_string(w) +
      ")[3:-3, 3:-3] for p in (1, 2, 3)]\n"
      "np.array([np.std(np.concatenate([x.ravel() for x in d3]))] + [np.std(x) for x in d3]).tofile(d + 's.f64')\n"));
  const std::vector<double> s = numpy.Get("s");
  for (int plane = 0; plane <= 3; ++plane) {
    const double plain = ImageRmsDifference(1, 2, 3, plane, false);
    const double vector = ImageRmsDifference(1, 2, 3, plane, true);
    EXPECT_NEAR(plain, s[size_t(plane)], 1e-9 * s[size_t(plane)]) << plane;
    EXPECT_EQ(std::memcmp(&plain, &vector, sizeof plain), 0) << plane;
  }
}

TEST_F(ImageRmsDifferenceTest, ConstantDifferenceBlanksAndEmptyFrames) {
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  MakeGrey(1, 21, 13, [&](int, int) { return u(rng); });
  MakeGrey(2, 21, 13, [&](int x, int y) { return Store.Image[1].At(1, x, y) + 1000.0f; });
  Store.Image[2].At(1, 5, 5) = 7.0f;  // one pixel off, then made blank
  EXPECT_GT(ImageRmsDifference(1, 2, 3), 0.0);
  Store.Image[2].At(1, 5, 5) = BlankPixel;
  // A constant difference in float: a + 1000 is rounded, so build it exactly.
  MakeGrey(1, 21, 13, [&](int x, int y) { return float(x * y); });
  MakeGrey(2, 21, 13, [&](int x, int y) { return float(x * y) - 250.5f; });
  Store.Image[2].At(1, 5, 5) = BlankPixel;
  Store.Image[1].At(1, 7, 6) = std::nanf("");
  for (const bool vector : {false, true}) {
    EXPECT_EQ(ImageRmsDifference(1, 2, 3, 0, vector), 0.0);
    EXPECT_EQ(ImageRmsDifference(1, 2, 7, 0, vector), 0.0);  // nothing left inside the frame
  }
  EXPECT_EQ(ImageRmsDifference(1, 9, 3), 0.0);  // no image
}

}  // namespace
}  // namespace astrelon::test
