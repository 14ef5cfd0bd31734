// MinBlur's step on plain planes: every pixel by the step's formula with each
// pair of opposite neighbours at the full reach where it fits and shrunk to
// the distance to the edge where it does not, the vector path's bits equal to
// the scalar path's, two steps in one pass equal to two; and the automatic
// flattening of a sky with a gradient and a vignetting bowl up to its edges.
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

// A pair's reach at distance e from the edge it points to: e rounded down to
// a multiple of four, at least 1, at most r.
int PairReach(int e, int r) { return std::min(r, std::max(1, e / 4 * 4)); }
int DiagonalStep(int l) { return std::max(int(std::lround(l * std::sqrt(0.5))), 1); }

// The step's formula for the pixel (x, y) of a step of reach r: the
// horizontal pair at the pair reach of the distance to the left or right
// edge, the vertical pair likewise, the diagonals at the largest reach whose
// step fits the pair reach of the distance to the nearer edge; the centre
// weighs as in the full window.
float StepAt(const std::vector<float>& a, const std::vector<float>& w, int width, int height, int x, int y,
             float scale, int r, bool rejecting) {
  const int ex = std::min(x, width - 1 - x), ey = std::min(y, height - 1 - y);
  const int h = PairReach(ex, r), v = PairReach(ey, r);
  int l = 1;
  while (l < r && DiagonalStep(l + 1) <= PairReach(std::min(ex, ey), r)) ++l;
  const int k = DiagonalStep(l);
  const double wd = l * std::sqrt(0.5) / k;
  const int dx[8] = {-k, 0, k, -h, h, -k, 0, k};
  const int dy[8] = {-k, -v, -k, 0, 0, k, v, k};
  const double weight[8] = {wd, 1, wd, 1, 1, wd, 1, wd};
  const double wr = r * std::sqrt(0.5) / DiagonalStep(r);
  const size_t i = size_t(y) * width + x;
  const float value = w[i];
  if (!(value > -1e9f)) return BlankPixel;
  double wc = (4 * wr + 4) * double(scale), s = value * wc;
  wc = std::fabs(wc);
  if (rejecting && value < a[i]) {
    wc = 1;
    s = value;
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

// A rejecting step's feature (below its reference) left as it was in a
// corner, where both its horizontal and its vertical pair are shrunk: the
// mean of 2 W(p + n) - W(p + 2 n) over the full window's directions whose two
// steps land inside on pixels that count (valid, not below their reference),
// weighed as in the full window; else as it was.
float StuckCornerAt(const std::vector<float>& a, const std::vector<float>& w, int width, int height, int x, int y,
                    int r, float stepped) {
  const int ex = std::min(x, width - 1 - x), ey = std::min(y, height - 1 - y);
  const size_t i = size_t(y) * width + x;
  if (PairReach(ex, r) == r || PairReach(ey, r) == r || !(w[i] > -1e9f) || !(w[i] < a[i]) || stepped != w[i])
    return stepped;
  const int k = DiagonalStep(r);
  const double wd = r * std::sqrt(0.5) / k;
  const int dx[8] = {-k, 0, k, -r, r, -k, 0, k};
  const int dy[8] = {-k, -r, -k, 0, 0, k, r, k};
  const double weight[8] = {wd, 1, wd, 1, 1, wd, 1, wd};
  const auto counts = [&](int u, int v) {
    if (u < 0 || v < 0 || u >= width || v >= height) return false;
    const size_t j = size_t(v) * width + u;
    return w[j] > -1e9f && a[j] > -1e9f && !(w[j] < a[j]);
  };
  double s = 0, wc = 0;
  for (int n = 0; n < 8; ++n) {
    if (!counts(x + dx[n], y + dy[n]) || !counts(x + 2 * dx[n], y + 2 * dy[n])) continue;
    s += (2.0 * w[size_t(y + dy[n]) * width + x + dx[n]] - w[size_t(y + 2 * dy[n]) * width + x + 2 * dx[n]]) *
         weight[n];
    wc += weight[n];
  }
  return wc > 0 ? float(s / wc) : stepped;
}

TEST(MinBlurStepTest, EveryPixelFollowsTheStepWithItsPairsCentred) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> value(0, 1000);
  int refilled = 0;  // features in corners that took the line from further in
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
      // No reach beyond the middle of the shorter side.
      const int r = std::min(std::abs(reach), std::max(1, (std::min(width, height) - 1) / 2));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          float expected = StepAt(a, w, width, height, x, y, 0.7f, r, reach < 0);
          if (reach < 0) {
            const float stuck = StuckCornerAt(a, w, width, height, x, y, r, expected);
            refilled += !BitEqual(stuck, expected);
            expected = stuck;
          }
          ASSERT_TRUE(BitEqual(results[0][size_t(y) * width + x], expected))
              << width << " " << reach << " " << x << "," << y;
        }
    }
  }
  EXPECT_GT(refilled, 0);
}

TEST(MinBlurStepTest, TwoStepsInOnePassGiveTheBitsOfTwo) {
  // The pass keeps the first step's rows in a window that slides down each
  // band and, for a rejecting second step, the corners of its input; it must
  // give the second of two single steps bit for bit, on one thread and on
  // several, scalar or vector. Features in the corners make both steps fill
  // stuck pixels; blank and NaN pixels lie in both planes.
  struct TCase {
    int Width, Height, First, Second;
  };
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> value(0, 1000);
  const uint8_t multicore = Options.Multicore;
  for (const TCase c : {TCase{37, 23, -1, -2}, TCase{300, 200, -4, -7}, TCase{2, 9, -1, -2}, TCase{300, 200, 11, 17},
                        TCase{1100, 290, -1, -2}, TCase{1100, 290, -11, -17}, TCase{1100, 290, 26, 40},
                        TCase{200, 1300, -26, -40}, TCase{200, 1300, -61, 92}, TCase{90, 70, -40, -61}}) {
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
  // wide along the edges). What "Nebel" leaves is the wide blur's curvature:
  // the estimate of the bowl's dome lies about 20 under it where the reach is
  // full and less where the edges shrink it, least in the corners (the frame
  // keeps 2.7 %: its sides, whose pairs along the edge keep the full reach,
  // now lie lower than its corners). A milder bowl (150) is flattened by
  // "Nebel" to under 3 %.
  // With 300 stars placed up to the edges, windows shrunk as a whole near the
  // edges kept the stars there in the estimate ("Nebel" left 9.9 %, "Sterne"
  // 5.9 %); the pairs along the edges at full reach, and in the corners the
  // line from further in, eat them as inside (4.5 % and 2.6 %).
  struct TCase {
    double Bowl;
    int Stars, Margin, Divisor;
    double Left, Frame;
  };
  for (const TCase c : {TCase{300, 120, 16, 3, 0.05, 0.03}, TCase{300, 120, 16, 5, 0.03, 0.02},
                        TCase{150, 120, 16, 3, 0.03, 0.025}, TCase{150, 120, 16, 5, 0.025, 0.02},
                        TCase{300, 300, 0, 3, 0.055, 0.04}, TCase{300, 300, 0, 5, 0.035, 0.03}}) {
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
    EXPECT_LT(GradientLeftIn(s, result, 50, true), c.Frame) << c.Bowl << " " << c.Stars << " " << c.Divisor;
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
