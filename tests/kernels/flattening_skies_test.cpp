// Background flattening over a range of skies: 600 x 400 to 1800 x 1200,
// ramps of several directions and strengths, vignetting bowls (quadratic and
// steeper), sparse and dense stars, stars up to the edges. The background left
// is the peak-to-peak of 25 x 25 block medians as a share of the sky's own
// (GradientLeft); the yardstick is a plain block-median estimate computed by
// numpy: 30 x 30 medians of the pixels a 3-sigma clip keeps (sigma from the
// quartiles), a 3 x 3 median over that grid, bilinear between the block
// centres, subtracted.
#include <string>

#include "../frequency/numpy_oracle.h"
#include "../pixelops/slot_images.h"
#include "gradient_sky.h"
#include "kernels/background/background_flattening.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

// The image minus the plain block-median estimate (plus its 35 % level).
std::vector<float> BlockMedianFlattened(const TGradientSky& s) {
  NumpyOracle np;
  np.Put("sky", std::vector<double>(s.Image.begin(), s.Image.end()));
  const std::string shape = std::to_string(s.H) + ", " + std::to_string(s.W);
  if (!np.Run("from scipy import ndimage\n"
              "a = np.fromfile(d + 'sky.f64').reshape(" + shape + ")\n"
              "h, w = a.shape\n"
              "b = 30\n"
              "ny, nx = -(-h // b), -(-w // b)\n"
              "p = np.full((ny * b, nx * b), np.inf)\n"
              "p[:h, :w] = a\n"
              "v = np.sort(p.reshape(ny, b, nx, b).transpose(0, 2, 1, 3).reshape(ny, nx, b * b), axis=2)\n"
              "# the kept values of a block are v[lo:hi], sorted\n"
              "lo = np.zeros((ny, nx, 1), int)\n"
              "hi = np.isfinite(v).sum(axis=2, keepdims=True)\n"
              "at = lambda i: np.take_along_axis(v, i, axis=2)\n"
              "med = lambda: (at(lo + (hi - lo - 1) // 2) + at(lo + (hi - lo) // 2)) / 2\n"
              "for _ in range(5):\n"
              "    m = med()\n"
              "    s = (at(lo + (hi - lo - 1) * 3 // 4) - at(lo + (hi - lo - 1) // 4)) / 1.349\n"
              "    lo, hi = (v < m - 3 * s).sum(axis=2, keepdims=True), (v <= m + 3 * s).sum(axis=2, keepdims=True)\n"
              "g = med()[:, :, 0]\n"
              "g = ndimage.median_filter(np.pad(g, 1, mode='reflect', reflect_type='odd'), 3)[1:-1, 1:-1]\n"
              "def axis(n, k):\n"
              "    c = (np.minimum(np.arange(1, k + 1) * b, n) + np.arange(k) * b) / 2 - 0.5\n"
              "    i = np.clip(np.searchsorted(c, np.arange(n)) - 1, 0, k - 2)\n"
              "    return i, (np.arange(n) - c[i]) / (c[i + 1] - c[i])\n"
              "iy, ty = axis(h, ny)\n"
              "ix, tx = axis(w, nx)\n"
              "gx = g[:, ix] * (1 - tx) + g[:, ix + 1] * tx\n"
              "e = gx[iy] * (1 - ty)[:, None] + gx[iy + 1] * ty[:, None]\n"
              "(a - e + np.percentile(e, 35)).tofile(d + 'flat.f64')\n"))
    return {};
  const std::vector<double> flat = np.Get("flat");
  return {flat.begin(), flat.end()};
}

// One sky and the bounds of the share left by "Nebel" (n = 3), "Sterne"
// (n = 5), the selection path of "variabel" over the whole image (radius 40,
// 25 %) and the batch's "Hintergrund ebnen" (radius 15), as measured with some
// room; a negative bound leaves the method out.
struct TSky {
  const char* Name;
  TSkyShape Shape;
  double Nebel, Sterne, Variabel, Batch;
};

TSkyShape Shape(int w, int h, double rampX, double rampY, double bowl, int stars, double bowlPower = 2,
              int margin = 16) {
  TSkyShape c;
  c.W = w;
  c.H = h;
  c.RampX = rampX;
  c.RampY = rampY;
  c.Bowl = bowl;
  c.Stars = stars;
  c.BowlPower = bowlPower;
  c.Margin = margin;
  return c;
}

// What the methods leave is mostly along the edges, where their windows lean
// toward the inside. MinBlur's windows keep only the neighbours on the
// image's side there, so "Nebel" (a reach of a fifth of the width) leaves 18 to
// 36 % and "Sterne" 6 to 14 %, the plain block medians 0.4 to 2.5 %. The
// running percentile's windows near an edge take the line up to its end and a
// fifth of the half-width past the mirror of that; its 25 % value of a window
// that a bowl's slope crosses lies lower where the slope is steep (the sides of
// a small image), so small bowled skies leave 3.5 to 7 % to "variabel".
const TSky Skies[] = {
    {"RampAndBowl", Shape(600, 400, 400, 200, 300, 24), 0.25, 0.09, 0.075, 0.02},
    {"SteepRampAt30Degrees", Shape(600, 400, 866, 500, 0, 24), 0.2, 0.07, 0.04, 0.006},
    {"DeepBowlRampDown", Shape(900, 600, 0, 150, 600, 54), 0.39, 0.15, 0.08, 0.019},
    {"DenseStars", Shape(900, 600, 400, 200, 300, 540), 0.28, 0.12, 0.046, 0.014},
    {"SteeperBowlRampAt135Degrees", Shape(900, 600, -283, 283, 300, 54, 4), 0.33, 0.14, 0.07, 0.018},
    {"StarsUpToTheEdges", Shape(900, 600, 400, 200, 300, 200, 2, 0), 0.27, 0.11, 0.045, 0.012},
    {"Large", Shape(1800, 1200, 400, 200, 300, 220), -1, 0.1, 0.02, -1},
};

class FlatteningSkiesTest : public StoreTest, public ::testing::WithParamInterface<TSky> {};

TEST_P(FlatteningSkiesTest, EachMethodLeavesLittleOfTheSky) {
  if (!HaveNumpy()) GTEST_SKIP() << "/usr/bin/python3 cannot import numpy";
  const TSky& sky = GetParam();
  const TGradientSky s = MakeSky(sky.Shape);
  const std::vector<float> plain = BlockMedianFlattened(s);
  ASSERT_EQ(plain.size(), s.Image.size());
  const double yardstick = GradientLeft(s, plain);
  struct TMethod {
    const char* Name;
    double Bound;
  };
  for (const TMethod m : {TMethod{"Nebel", sky.Nebel}, TMethod{"Sterne", sky.Sterne},
                          TMethod{"variabel", sky.Variabel}, TMethod{"batch", sky.Batch}}) {
    if (m.Bound < 0) continue;
    PutImage(1, s.W, s.H, {s.Image});
    PutImage(2, s.W, s.H, {s.Image});
    const std::string name = m.Name;
    if (name == "Nebel" || name == "Sterne")
      ASSERT_TRUE(FlattenBackgroundAuto(1, 2, name == "Nebel" ? 3 : 5, false));
    else if (name == "variabel")
      ASSERT_TRUE(FlattenBackgroundMasked(1, 2, 40, 0, 0, s.W - 1, s.H - 1, false, false, false, "", 2, 0.25));
    else
      ASSERT_TRUE(FlattenBackgroundForBatch(1, 2, 15));
    const std::vector<float> result = Plane(2, 1);
    const double left = GradientLeft(s, result);
    EXPECT_LT(left, m.Bound) << m.Name << " (block medians " << yardstick << ")";
    // The stars keep their flux; the batch's small window pulls some of it
    // into the background.
    EXPECT_GT(FluxKept(s, result), name == "batch" ? 0.95 : 0.99) << m.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Skies, FlatteningSkiesTest, ::testing::ValuesIn(Skies),
                         [](const ::testing::TestParamInfo<TSky>& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace astrelon::test
