// Merging a long and a short exposure.
#include <algorithm>
#include <cmath>
#include <random>

#include "registration/combination/exposure_combination.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

using ExposureCombinationTest = StoreTest;

constexpr int W = 512, H = 64;
// A scene from 500 to 120000 along the rows with a little texture.
float Scene(int x, int y) { return 500.0f + 119500.0f * float(x) / float(W - 1) + float((x * 7 + y * 13) % 50); }

std::vector<float> Image(float (*f)(int, int)) {
  std::vector<float> v(size_t(W * H));
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) v[size_t(y * W + x)] = f(x, y);
  return v;
}

TEST_F(ExposureCombinationTest, IdenticalExposuresGiveTheInputBack) {
  // Levels spread evenly over 500 .. 120000, about 128 per table bin.
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> d(500, 120000);
  std::vector<float> v(size_t(W * H));
  for (float& x : v) x = d(gen);
  MakeImage(1, W, H, {v});
  MakeImage(2, W, H, {v});
  const TExposureCalibration c = CombineExposures(1, 2);
  EXPECT_NEAR(c.Gain, 1.0, 0.001);
  EXPECT_NEAR(c.Offset, 0.0, 60.0);  // a tenth of a table bin
  const std::vector<float> out = PlaneValues(2, 1);
  for (size_t i = 0; i < v.size(); ++i) ASSERT_NEAR(out[i], v[i], 0.001 * v[i]) << i;
}

TEST_F(ExposureCombinationTest, ShortExposureFillsTheSaturatedPart) {
  MakeImage(1, W, H, {Image([](int x, int y) { return std::min(Scene(x, y), 60000.0f); })});
  MakeImage(2, W, H, {Image([](int x, int y) { return Scene(x, y) / 4 + 100; })});
  const TExposureCalibration c = CombineExposures(1, 2);
  EXPECT_TRUE(c.SourceIsLong);
  EXPECT_NEAR(c.Gain, 4.0, 0.2);
  const std::vector<float> out = PlaneValues(2, 1);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const float s = Scene(x, y) / 4 + 100;
      if (Scene(x, y) > 61000) {
        ASSERT_NEAR(out[size_t(y * W + x)], (s + c.Offset) * c.Gain, 1.0) << x;
      }
      // The scaled short exposure joins the long one without a step.
      ASSERT_NEAR(out[size_t(y * W + x)], Scene(x, y), 0.01 * Scene(x, y) + 50) << x;
    }
}

TEST_F(ExposureCombinationTest, UnitRangeImagesStayInsideTheTables) {
  MakeImage(1, W, H, {Image([](int x, int) { return float(x) / float(W - 1); })});
  MakeImage(2, W, H, {Image([](int x, int y) { return float(x) / float(W - 1) * 0.5f + (y == 0 ? -2e11f : 0.0f); })});
  const TExposureCalibration c = CombineExposures(1, 2);
  EXPECT_GE(c.Gain, 1.0);
  EXPECT_LE(c.Gain, 50.0);
  for (float v : PlaneValues(2, 1)) ASSERT_FALSE(std::isnan(v));
}

}  // namespace
}  // namespace astrelon::test
