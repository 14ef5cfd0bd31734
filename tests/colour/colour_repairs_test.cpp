// Defect pixels pulled into their noise band, colour fringes removed by the
// median of the difference to green, colour layers registered onto green.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "../pixelops/sampling_fixture.h"
#include "../pixelops/slot_images.h"
#include "pixelops/colour/colour_layer_alignment.h"
#include "pixelops/colour/remove_colour_fringes.h"
#include "pixelops/pixels/smooth_defect_pixels.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class ColourRepairs : public StoreTest {};

TEST_F(ColourRepairs, DefectPixelsMoveToTheEdgeOfTheNoiseBand) {
  const int w = 7, h = 6;
  struct Case {
    const char* name;
    int x, y;
    float value, expected;
  };
  const float s = std::sqrt(0.025f);
  for (const Case c : {Case{"hot", 3, 2, 1000, 100 + s}, Case{"cold", 4, 3, 0, 100 - s},
                       Case{"blank", 2, 2, BlankPixel, 100 - s}, Case{"border", 0, 3, 1000, 1000},
                       Case{"inside the band", 3, 3, 100.1f, 100.1f}}) {
    SCOPED_TRACE(c.name);
    std::vector<float> v(size_t(w * h), 100.0f);
    v[size_t(c.y * w + c.x)] = c.value;
    SmoothDefectPixelsPlane(v, w, h, 0, 0, w - 1, h - 1);
    for (int i = 0; i < w * h; ++i)
      EXPECT_NEAR(v[size_t(i)], i == c.y * w + c.x ? c.expected : 100.0f, 1e-4f) << i;
  }
  // A ramp and a curved surface stay as they are.
  std::vector<float> ramp(size_t(w * h)), bowl(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      ramp[size_t(y * w + x)] = float(10 * x + 3 * y);
      bowl[size_t(y * w + x)] = float((x - 3) * (x - 3) + (y - 2) * (y - 2));
    }
  for (auto* plane : {&ramp, &bowl}) {
    const std::vector<float> before = *plane;
    SmoothDefectPixelsPlane(*plane, w, h, 0, 0, w - 1, h - 1);
    EXPECT_EQ(*plane, before);
  }
  // Every plane of a slot; the rectangle limits the work.
  std::vector<float> hot(size_t(w * h), 100.0f);
  hot[size_t(2 * w + 3)] = 1000;
  PutImage(1, w, h, {hot, hot, hot});
  SmoothDefectPixels(1, 0, 0, 2, 5);
  EXPECT_EQ(Plane(1, 2)[size_t(2 * w + 3)], 1000.0f);
  SmoothDefectPixels(1, 3, 2, 3, 2);
  for (int p = 1; p <= 3; ++p) EXPECT_NEAR(Plane(1, p)[size_t(2 * w + 3)], 100 + s, 1e-4f);
}

TEST_F(ColourRepairs, DefectPixelPathsAgreeBitForBit) {
  const int w = 61, h = 23;
  std::mt19937 rng(4);
  std::normal_distribution<float> noise(500.0f, 30.0f);
  std::vector<float> v(size_t(w * h));
  for (float& x : v) x = noise(rng);
  for (int k = 0; k < 40; ++k) v[size_t(rng() % v.size())] = k % 3 == 0 ? BlankPixel : (k % 2 ? 9000.0f : 0.0f);
  // Neighbours that change one after the other.
  for (int x = 20; x < 34; ++x) v[size_t(10 * w + x)] = x % 3 ? 9000.0f : 0.0f;
  std::vector<float> scalar = v, vector = v;
  SmoothDefectPixelsPlane(scalar, w, h, 3, 1, 58, 21, false);
  SmoothDefectPixelsPlane(vector, w, h, 3, 1, 58, 21, true);
  EXPECT_EQ(std::memcmp(scalar.data(), vector.data(), scalar.size() * 4), 0);
  EXPECT_NE(scalar, v);
}

TEST_F(ColourRepairs, FringeOutlierFollowsGreen) {
  const int w = 9, h = 8;
  std::vector<float> g(size_t(w * h)), r(size_t(w * h));
  for (int i = 0; i < w * h; ++i) {
    g[size_t(i)] = float(i % 7) * 10;
    r[size_t(i)] = g[size_t(i)] + 5;
  }
  r[size_t(4 * w + 4)] = 900;
  std::vector<float> b = g;
  g[size_t(0)] = BlankPixel;
  PutImage(1, w, h, {r, g, b});
  PutImage(2, w, h, {r, g, b});
  RemoveColourFringes(1, 2, 0, 0, w - 1, h - 1, 5);
  EXPECT_FLOAT_EQ(Plane(2, 1)[size_t(4 * w + 4)], g[size_t(4 * w + 4)] + 5);
  EXPECT_EQ(Plane(2, 2), g);
  EXPECT_EQ(Plane(2, 3), b);
  EXPECT_EQ(Plane(2, 1)[0], r[0]);  // green blank: left alone
}

TEST_F(ColourRepairs, FringeMedianAgreesWithScipyAndBothPaths) {
  if (!HavePythonModule("scipy.ndimage")) GTEST_SKIP() << "python3-scipy missing";
  const int w = 31, h = 23;
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> u(0.0f, 100.0f);
  std::vector<float> r(size_t(w * h)), g(size_t(w * h)), b(size_t(w * h));
  for (int i = 0; i < w * h; ++i) r[size_t(i)] = u(rng), g[size_t(i)] = u(rng), b[size_t(i)] = u(rng);
  PutImage(1, w, h, {r, g, b});
  PutImage(2, w, h, {r, g, b});
  PutImage(3, w, h, {r, g, b});
  const int x1 = 1, y1 = 2, x2 = 28, y2 = 20;
  RemoveColourFringes(1, 2, x1, y1, x2, y2, 5, true);
  RemoveColourFringes(1, 3, x1, y1, x2, y2, 5, false);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(Plane(2, p), Plane(3, p)) << p;
  TempDir dir;
  std::vector<float> d(size_t(w * h));
  for (int i = 0; i < w * h; ++i) d[size_t(i)] = r[size_t(i)] - g[size_t(i)];
  WriteFloats(dir.file("d"), d);
  const std::string script =
      "import sys, numpy as np\nfrom scipy.ndimage import median_filter\n"
      "d = np.fromfile(sys.argv[1] + '/d', np.float32).reshape(23, 31)\n"
      "median_filter(d, size=5).astype(np.float32).tofile(sys.argv[1] + '/m')\n";
  ASSERT_TRUE(RunPython(dir, script, dir.path().string()));
  const std::vector<float> m = ReadFloats(dir.file("m"));
  ASSERT_EQ(m.size(), d.size());
  // Where the whole 5 x 5 window lies inside the rectangle.
  const std::vector<float> out = Plane(2, 1);
  for (int y = y1 + 2; y <= y2 - 2; ++y)
    for (int x = x1 + 2; x <= x2 - 2; ++x) {
      const size_t i = size_t(y * w + x);
      ASSERT_FLOAT_EQ(out[i], m[i] + g[i]) << x << "," << y;
    }
  EXPECT_EQ(out[0], r[0]);  // outside the rectangle
}

TEST_F(ColourRepairs, BlueShiftedByScipyComesBack) {
  if (!HavePythonModule("scipy.ndimage")) GTEST_SKIP() << "python3-scipy missing";
  const int w = 120, h = 100;
  std::vector<float> g(size_t(w * h), 50.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(15.0f, 105.0f);
  for (int k = 0; k < 25; ++k) {
    const float cx = u(rng), cy = u(rng) * 0.8f, a = 500.0f + 40.0f * float(k);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        g[size_t(y * w + x)] += a * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 6.0f);
  }
  TempDir dir;
  WriteFloats(dir.file("g"), g);
  const std::string script =
      "import sys, numpy as np\nfrom scipy.ndimage import shift\n"
      "g = np.fromfile(sys.argv[1] + '/g', np.float32).reshape(100, 120).astype(np.float64)\n"
      "shift(g, (-1.1, 2.3), order=3, mode='nearest').astype(np.float32).tofile(sys.argv[1] + '/b')\n";
  ASSERT_TRUE(RunPython(dir, script, dir.path().string()));
  const std::vector<float> b = ReadFloats(dir.file("b"));
  ASSERT_EQ(b.size(), g.size());
  PutImage(1, w, h, {g, g, b});
  const TWorkRect region{20, 99, 15, 84};
  const auto match = MeasureLayerShifts(1, region);
  ASSERT_TRUE(match);
  EXPECT_NEAR(match->At[1].X - match->Centre.X, 2.3, 0.1);
  EXPECT_NEAR(match->At[1].Y - match->Centre.Y, -1.1, 0.1);
  EXPECT_NEAR(match->At[0].X, match->Centre.X, 0.1);
  EXPECT_NEAR(match->At[0].Y, match->Centre.Y, 0.1);
  // Only blue moves; afterwards it lies on green.
  PutImage(2, w, h, {b, g, b});
  AlignColourLayers(1, 2, false, true, *match, std::nullopt);
  EXPECT_EQ(Plane(2, 1), b);
  const auto again = MeasureLayerShifts(2, region);
  ASSERT_TRUE(again);
  EXPECT_NEAR(again->At[1].X, again->Centre.X, 0.1);
  EXPECT_NEAR(again->At[1].Y, again->Centre.Y, 0.1);
  // A region too small to match is a failed measurement.
  EXPECT_FALSE(MeasureLayerShifts(1, TWorkRect{5, 6, 5, 6}));
}

}  // namespace
}  // namespace astrelon::test
