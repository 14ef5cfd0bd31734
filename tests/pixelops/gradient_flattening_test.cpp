// Automatic gradient removal (linear and radial) and masking by a second image.
#include <algorithm>
#include <cmath>
#include <vector>

#include "gradient_sky.h"
#include "pixelops/flattening/gradient_flattening.h"
#include "pixelops/flattening/mask_image.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr float B = BlankPixel;

using GradientFlatteningTest = StoreTest;

std::vector<float> Ramp(int w, int h, double ax, double ay, double c) {
  std::vector<float> v(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v[size_t(y) * size_t(w) + size_t(x)] = float(c + ax * x + ay * y);
  return v;
}

// Small deterministic noise of amplitude `a` (a fixed hash, no generator state).
float Noise(int i, float a) { return a * (float((uint32_t(i) * 2654435761u) >> 16 & 1023) / 1023.0f - 0.5f); }

std::pair<float, float> Range(const std::vector<float>& v) {
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  return {*lo, *hi};
}

TEST_F(GradientFlatteningTest, LinearRampBecomesItsCentreValue) {
  PutImage(1, 200, 100, {Ramp(200, 100, 1, 2, 0)});
  FlattenGradient(1, 1);
  const auto [lo, hi] = Range(Plane(1, 1));
  EXPECT_NEAR(lo, 200.0f, 1.0f);
  EXPECT_NEAR(hi, 200.0f, 1.0f);
}

TEST_F(GradientFlatteningTest, OneBrightPixelDoesNotSteerTheLinearFit) {
  // A flat noisy sky with one very bright pixel: the fit finds (almost) no slope.
  std::vector<float> v(300 * 200);
  for (size_t i = 0; i < v.size(); ++i) v[i] = 1000.0f + Noise(int(i), 4.0f);
  v[150 * 300 + 20] = 60000.0f;
  PutImage(1, 300, 200, {v});
  const TLinearGradient g = FitLinearGradient(1, 1);
  // A slope of 20 across the image would be 5 noise amplitudes.
  EXPECT_LT(std::abs(g.gx), 20.0);
  EXPECT_LT(std::abs(g.gy), 20.0);
}

TEST_F(GradientFlatteningTest, RadialTermAroundAnOffCentrePointIsReduced) {
  // A radial rise of depth 400 over a 160 x 120 image around (64, 50), plus
  // noise: the fit takes out more than a fifth of the range.
  const int w = 160, h = 120;
  const double x0 = 64, y0 = 50, a = 400.0 / (96.0 * 96.0);
  std::vector<float> v(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      v[i] = float(2000.0 + a * ((x - x0) * (x - x0) + (y - y0) * (y - y0))) + Noise(int(i), 2.0f);
    }
  PutImage(1, w, h, {v});
  const TRadialGradient g = FitRadialGradient(1, 1);
  EXPECT_LT(g.a, 0.0);
  const auto [lo0, hi0] = Range(v);
  FlattenGradient(1, 2);
  const auto [lo, hi] = Range(Plane(1, 1));
  EXPECT_LT(hi - lo, 0.8f * (hi0 - lo0)) << lo << " " << hi;
}

TEST_F(GradientFlatteningTest, RadialFitTakesOutVignettingOfEitherSign) {
  // 900 x 600 skies with noise and stars. A darkening bowl 300 deep in the
  // corners needs a > 0: the search once kept the sign of a failed negative
  // step (and stepped a in units of the range per squared pixel), so it never
  // took out any bowl and left 100 to 140 % of it; with a ramp of 400 besides
  // it left about 75 %.
  struct TCase {
    double Ramp, Bowl, Left;
  };
  for (uint32_t seed : {2u, 4u})
    for (const TCase c : {TCase{0, 300, 0.05}, TCase{0, -300, 0.05}, TCase{400, 300, 0.2}}) {
      const TGradientSky s = MakeGradientSky(900, 600, c.Ramp, c.Bowl, 10, 120, seed);
      PutImage(1, s.W, s.H, {s.Image});
      const TRadialGradient g = FitRadialGradient(1, 1);
      EXPECT_EQ(g.a > 0, c.Bowl > 0) << seed << " " << c.Ramp << " " << c.Bowl;
      FlattenGradient(1, 2);
      EXPECT_LT(GradientLeft(s, Plane(1, 1)), c.Left) << seed << " " << c.Ramp << " " << c.Bowl;
    }
}

TEST_F(GradientFlatteningTest, ConstantAndBlankImagesStayUnchanged) {
  for (int mode : {1, 2}) {
    PutImage(1, 40, 30, {std::vector<float>(1200, 77.0f)});
    FlattenGradient(1, mode);
    EXPECT_EQ(Plane(1, 1), std::vector<float>(1200, 77.0f)) << mode;
    // Blank pixels stay blank; an all-blank plane has nothing to change.
    PutImage(2, 40, 30, {std::vector<float>(1200, B)});
    FlattenGradient(2, mode);
    EXPECT_EQ(Plane(2, 1), std::vector<float>(1200, B)) << mode;
  }
}

TEST_F(GradientFlatteningTest, RampResultDoesNotDependOnTheThreads) {
  std::vector<std::vector<float>> results;
  for (bool multi : {false, true}) {
    MulticoreGuard guard(multi);
    PutImage(1, 640, 480, {Ramp(640, 480, 0.5, -0.25, 300)});
    FlattenGradient(1, 1);
    results.push_back(Plane(1, 1));
  }
  EXPECT_EQ(results[0], results[1]);
}

TEST_F(GradientFlatteningTest, MaskBlanksAtAndAboveTheMidLevel) {
  // Mask 0 .. 100 (mid level 50): the pixels where it is >= 50 go blank.
  PutImage(1, 4, 2, {{1, 2, 3, 4, 5, 6, 7, 8}});
  PutImage(2, 4, 2, {{0, 49, 50, 100, 100, 20, 30, 50}});
  PutImage(3, 4, 2, {{1, 2, 3, 4, 5, 6, 7, 8}});
  MaskImageByImage(1, 2, 3, false);
  EXPECT_EQ(Plane(3, 1), (std::vector<float>{1, 2, B, B, B, 6, 7, B}));
  // A smaller mask masks only the overlap.
  PutImage(3, 4, 2, {{1, 2, 3, 4, 5, 6, 7, 8}});
  PutImage(2, 2, 1, {{100, 0}});
  MaskImageByImage(1, 2, 3, false);
  EXPECT_EQ(Plane(3, 1), (std::vector<float>{B, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(GradientFlatteningTest, ColourMaskPlanesAndTheFill) {
  // A colour mask masks each plane by its own plane; with the fill flag no blank is left.
  std::vector<float> r(36, 10.0f), g(36, 20.0f), b(36, 30.0f);
  std::vector<float> mr(36, 0.0f), mg(36, 0.0f), mb(36, 0.0f);
  mr[7] = 100;
  mg[14] = 100;
  mb[21] = 100;
  PutImage(1, 6, 6, {r, g, b});
  PutImage(2, 6, 6, {mr, mg, mb});
  PutImage(3, 6, 6, {r, g, b});
  MaskImageByImage(1, 2, 3, false);
  EXPECT_EQ(Plane(3, 1)[7], B);
  EXPECT_EQ(Plane(3, 2)[7], 20.0f);
  EXPECT_EQ(Plane(3, 2)[14], B);
  EXPECT_EQ(Plane(3, 3)[21], B);
  PutImage(3, 6, 6, {r, g, b});
  MaskImageByImage(1, 2, 3, true);
  EXPECT_EQ(Plane(3, 1), r);
  EXPECT_EQ(Plane(3, 2), g);
  EXPECT_EQ(Plane(3, 3), b);
}

}  // namespace
}  // namespace astrelon::test
