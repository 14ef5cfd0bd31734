// MinBlur's step on plain planes: every pixel as the plain writing-out of the
// step gives it (neighbours outside the image left out), the vector path's
// bits equal to the scalar path's, two steps in one pass equal to two; and the
// automatic flattening of a sky with a gradient and a vignetting bowl.
#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "core/settings.h"
#include "gradient_sky.h"
#include "kernels/background/background_flattening.h"
#include "kernels/background/min_blur_step.h"
#include "plain_flattening.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

bool BitEqual(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(MinBlurStepTest, EveryPixelFollowsThePlainStep) {
  // Random planes with blank and NaN pixels in both; reaches up to beyond the
  // image (the neighbours there never count); the scalar and the vector path
  // on one thread and on several.
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(0, 1000);
  const uint8_t multicore = Options.Multicore;
  for (auto [width, height] :
       {std::pair{37, 23}, std::pair{300, 200}, std::pair{2, 9}, std::pair{1100, 290}}) {
    std::vector<float> a(size_t(width) * height), w(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      a[i] = value(rng);
      w[i] = a[i] + value(rng) * 0.2f - 100;
    }
    for (size_t i = 5; i < a.size(); i += 97) w[i] = BlankPixel;
    for (size_t i = 11; i < a.size(); i += 89) a[i] = std::nanf("");
    for (int reach : {1, 2, 7, -1, -4, -26, -139, 400}) {
      const std::vector<float> expected = plain::MinBlurStep(a, w, width, height, 0.7f, reach);
      for (bool vector : {false, true})
        for (uint8_t threads : {0, 1}) {
          Options.Multicore = threads;
          std::vector<float> out(a.size(), 0.0f);
          MinBlurStepPlane(a, w, out, width, height, 0.7f, reach, vector);
          EXPECT_TRUE(BitEqual(out, expected)) << width << "x" << height << " " << reach << " " << vector;
        }
    }
  }
  Options.Multicore = multicore;
}

TEST(MinBlurStepTest, TwoStepsInOnePassGiveTheBitsOfTwo) {
  // The pass keeps the first step's rows in a window that slides down each
  // band; it must give the second of two single steps bit for bit, on one
  // thread and on several, scalar or vector. Bright features sit in the
  // corners; blank and NaN pixels lie in both planes.
  struct TCase {
    int Width, Height, First, Second;
  };
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> value(0, 1000);
  const uint8_t multicore = Options.Multicore;
  for (const TCase c : {TCase{37, 23, -1, -2}, TCase{300, 200, -4, -7}, TCase{2, 9, -1, -2}, TCase{300, 200, 11, 17},
                        TCase{1100, 290, -1, -2}, TCase{1100, 290, -11, -17}, TCase{1100, 290, 26, 40},
                        TCase{200, 1300, -26, -40}, TCase{200, 1300, -61, 92}, TCase{90, 70, -40, -61},
                        TCase{90, 70, -61, 92}}) {
    std::vector<float> a(size_t(c.Width) * c.Height), w(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      a[i] = value(rng);
      w[i] = a[i] + value(rng) * 0.2f - 100;
    }
    for (int k = 0; k < 4; ++k) {
      const size_t corner = size_t((k & 2 ? c.Height - 2 : 1) * c.Width + (k & 1 ? c.Width - 2 : 1));
      a[std::min(corner, a.size() - 1)] += 5000;
    }
    for (size_t i = 5; i < a.size(); i += 97) w[i] = BlankPixel;
    for (size_t i = 11; i < a.size(); i += 89) a[i] = std::nanf("");
    for (bool vector : {false, true})
      for (uint8_t threads : {0, 1}) {
        Options.Multicore = threads;
        std::vector<float> between(a.size()), twice(a.size()), once(a.size());
        MinBlurStepPlane(a, w, between, c.Width, c.Height, 0.7f, c.First, vector);
        MinBlurStepPlane(a, between, twice, c.Width, c.Height, 0.7f, c.Second, vector);
        MinBlurStepPairPlane(a, w, once, c.Width, c.Height, 0.7f, c.First, c.Second, vector);
        EXPECT_TRUE(BitEqual(once, twice)) << c.Width << "x" << c.Height << " " << c.First << " " << c.Second << " "
                                           << vector << " " << int(threads);
      }
  }
  Options.Multicore = multicore;
}

class MinBlurSkyTest : public StoreTest {};

TEST_F(MinBlurSkyTest, AutomaticFlatteningOfBowls) {
  // "Nebel" (n = 3) and "Sterne" (n = 5) on a 900 x 600 sky: a ramp of 400
  // across and 200 down, a vignetting bowl in the corners, noise 10 and 120
  // stars (300 up to the edges). Near the edges the windows keep only the
  // neighbours on the image's side, so the estimate there leans toward the
  // inside: "Nebel" leaves 19 to 25 % of the background's range, "Sterne" 8 to
  // 10 %, most of it along the edges (inside the frame 100 pixels wide 6 to
  // 7 % and 2 %); the stars keep their flux.
  struct TCase {
    double Bowl;
    int Stars, Margin, Divisor;
    double Left, Inside;
  };
  for (const TCase c : {TCase{300, 120, 16, 3, 0.26, 0.08}, TCase{300, 120, 16, 5, 0.11, 0.025},
                        TCase{150, 120, 16, 3, 0.2, 0.07}, TCase{150, 120, 16, 5, 0.085, 0.025},
                        TCase{300, 300, 0, 3, 0.26, 0.08}, TCase{300, 300, 0, 5, 0.11, 0.025}}) {
    TSkyShape shape;
    shape.Bowl = c.Bowl;
    shape.Stars = c.Stars;
    shape.Margin = c.Margin;
    shape.Seed = c.Margin == 0 ? 9 : 7;
    const TGradientSky s = MakeSky(shape);
    PutImage(1, s.W, s.H, {s.Image});
    PutImage(2, s.W, s.H, {s.Image});
    ASSERT_TRUE(FlattenBackgroundAuto(1, 2, c.Divisor, false));
    const std::vector<float> result = Plane(2, 1);
    EXPECT_LT(GradientLeft(s, result), c.Left) << c.Bowl << " " << c.Stars << " " << c.Divisor;
    EXPECT_LT(GradientLeftIn(s, result, 100, false), c.Inside) << c.Bowl << " " << c.Stars << " " << c.Divisor;
    EXPECT_GT(FluxKept(s, result), 0.99) << c.Bowl << " " << c.Stars << " " << c.Divisor;
  }
}

TEST_F(MinBlurSkyTest, PlanesOfDifferentSizesChangeNothing) {
  // A reference that does not match the work plane: the work plane stays as it was.
  const std::vector<float> work(90 * 80, 500.0f);
  PutImage(1, 100, 80, {std::vector<float>(100 * 80, 400.0f)});
  PutImage(2, 90, 80, {work});
  EXPECT_TRUE(MinBlur(1, 2, 1, -10, 1, false, 2));
  EXPECT_TRUE(BitEqual(Plane(2, 1), work));
}

TEST_F(MinBlurSkyTest, OneThreadOrSeveralScalarOrVectorGiveTheSameBits) {
  // The whole chain of steps (strips of columns, bands of rows, the scratch
  // plane swapped in after each step) on 1300 x 700: the same bits on one
  // thread and on all, on the scalar path and the vector one.
  const TGradientSky s = MakeGradientSky(1300, 700, 400, 300);
  const bool sse2 = Sse2Enabled, avx2 = Avx2Enabled;
  const uint8_t multicore = Options.Multicore;
  std::vector<std::vector<float>> results;
  for (bool vector : {false, true})
    for (uint8_t threads : {0, 1}) {
      Sse2Enabled = Avx2Enabled = vector;
      Options.Multicore = threads;
      PutImage(1, s.W, s.H, {s.Image});
      PutImage(2, s.W, s.H, {s.Image});
      ASSERT_TRUE(FlattenBackgroundAuto(1, 2, 3, false));
      results.push_back(Plane(2, 1));
    }
  Sse2Enabled = sse2;
  Avx2Enabled = avx2;
  Options.Multicore = multicore;
  for (size_t k = 1; k < results.size(); ++k) EXPECT_TRUE(BitEqual(results[0], results[k])) << k;
}

}  // namespace
}  // namespace astrelon::test
