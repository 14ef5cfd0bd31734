// MinBlur's step on plain planes: every pixel by the step's formula at its own
// reach (the full reach inside, its distance to the nearest edge near it), the
// vector path's bits equal to the scalar path's; and the automatic flattening
// of a sky with a gradient and a vignetting bowl up to its edges.
#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "core/settings.h"
#include "gradient_sky.h"
#include "kernels/background/background_flattening.h"
#include "kernels/background/min_blur_step.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

bool BitEqual(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }
bool BitEqual(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The step's formula for one pixel at reach l.
float StepAt(const std::vector<float>& a, const std::vector<float>& w, int width, int height, int x, int y,
             float scale, int l, bool rejecting) {
  const double sin45 = std::sqrt(0.5);
  const int k = std::max(int(std::lround(l * sin45)), 1);
  const double wd = l * sin45 / k;
  const int dx[8] = {-k, 0, k, -l, l, -k, 0, k};
  const int dy[8] = {-k, -l, -k, 0, 0, k, l, k};
  const double weight[8] = {wd, 1, wd, 1, 1, wd, 1, wd};
  const size_t i = size_t(y) * width + x;
  const float v = w[i];
  if (!(v > -1e9f)) return BlankPixel;
  double wc = (4 * wd + 4) * double(scale), s = v * wc;
  wc = std::fabs(wc);
  if (rejecting && v < a[i]) {
    wc = 1;
    s = v;
  }
  for (int n = 0; n < 8; ++n) {
    // A neighbour counts only with its opposite inside the plane too.
    const int xn = x + dx[n], yn = y + dy[n], xo = x - dx[n], yo = y - dy[n];
    if (xn < 0 || xn >= width || yn < 0 || yn >= height || xo < 0 || xo >= width || yo < 0 || yo >= height) continue;
    const size_t j = size_t(yn) * width + xn;
    if (!(w[j] > -1e9f)) continue;
    if (rejecting && (!(a[j] > -1e9f) || w[j] < a[j])) continue;
    s += w[j] * weight[n];
    wc += weight[n];
  }
  return wc > 0 ? float(s / wc) : BlankPixel;
}

TEST(MinBlurStepTest, EveryPixelFollowsTheStepAtItsCentredReach) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(0, 1000);
  // 1100 x 290 runs in bands of rows; 2000 x 300 on eight threads also in
  // strips of columns at the longer reaches.
  for (auto [width, height] :
       {std::pair{37, 23}, std::pair{300, 200}, std::pair{2, 9}, std::pair{1100, 290}, std::pair{2000, 300}}) {
    std::vector<float> a(size_t(width) * height), w(a.size());
    for (size_t i = 0; i < a.size(); ++i) {
      a[i] = value(rng);
      w[i] = a[i] + value(rng) * 0.2f - 100;
    }
    // Blank and NaN pixels in both planes.
    for (size_t i = 5; i < a.size(); i += 97) w[i] = BlankPixel;
    for (size_t i = 11; i < a.size(); i += 89) a[i] = std::nanf("");
    for (int reach : {1, 2, 7, -1, -4, -26, -139}) {
      std::vector<std::vector<float>> results;
      for (bool vector : {false, true}) {
        std::vector<float> out(a.size(), 0.0f);
        MinBlurStepPlane(a, w, out, width, height, 0.7f, reach, vector);
        results.push_back(out);
      }
      ASSERT_TRUE(BitEqual(results[0], results[1])) << width << " " << reach;
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const int edge = std::min({x, y, width - 1 - x, height - 1 - y});
          // The distance to the nearest edge rounded down to a multiple of 4.
          const int l = std::min(std::abs(reach), std::max(1, edge / 4 * 4));
          const float expected = StepAt(a, w, width, height, x, y, 0.7f, l, reach < 0);
          ASSERT_TRUE(BitEqual(results[0][size_t(y) * width + x], expected))
              << width << " " << reach << " " << x << "," << y;
        }
    }
  }
}

TEST(MinBlurStepTest, ALinearGradientStaysAsItIs) {
  // A centred window keeps a plane that is linear in x and y (apart from
  // rounding), right up to the edges.
  const int width = 120, height = 80;
  std::vector<float> a(size_t(width) * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) a[size_t(y) * width + x] = float(100 + 3 * x + 2 * y);
  for (int reach : {3, 40}) {
    std::vector<float> out(a.size());
    MinBlurStepPlane(a, a, out, width, height, 0.7f, reach, true);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(out[i], a[i], 1e-3f) << i << " " << reach;
  }
}

class MinBlurSkyTest : public StoreTest {};

TEST_F(MinBlurSkyTest, AutomaticFlatteningReachesTheEdges) {
  // "Nebel" (n = 3) and "Sterne" (n = 5) on a 900 x 600 sky: a ramp of 400
  // across and 200 down, a vignetting bowl 300 deep in the corners, noise 10
  // and 120 stars. With windows cut at the edges "Nebel" left 24 % of the
  // background's range and "Sterne" 10 % (22 % and 9 % in the frame 50 pixels
  // wide along the edges); now the frame keeps under 2 %. What "Nebel" leaves
  // inside is the wide blur's curvature: the estimate of the bowl's dome lies
  // about 20 under it where the reach is full and less where the edges shrink
  // it. A milder bowl (150) is flattened by "Nebel" to under 3 %.
  struct TCase {
    double Bowl;
    int Divisor;
    double Left;
  };
  for (const TCase c : {TCase{300, 3, 0.05}, TCase{300, 5, 0.03}, TCase{150, 3, 0.03}, TCase{150, 5, 0.025}}) {
    const TGradientSky s = MakeGradientSky(900, 600, 400, c.Bowl);
    PutImage(1, s.W, s.H, {s.Image});
    PutImage(2, s.W, s.H, {s.Image});
    ASSERT_TRUE(FlattenBackgroundAuto(1, 2, c.Divisor, false));
    const std::vector<float> result = Plane(2, 1);
    EXPECT_LT(GradientLeft(s, result), c.Left) << c.Bowl << " " << c.Divisor;
    EXPECT_LT(GradientLeftIn(s, result, 50, true), 0.02) << c.Bowl << " " << c.Divisor;
    EXPECT_GT(FluxKept(s, result), 0.99) << c.Bowl << " " << c.Divisor;
  }
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
