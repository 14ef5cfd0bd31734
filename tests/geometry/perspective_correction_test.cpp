// Perspective correction from two guide lines: the orientation test, parallel
// lines, lines meeting far above the image, and the map against numpy/scipy.
#include <cmath>
#include <string>
#include <vector>

#include "../frequency/numpy_oracle.h"
#include "../pixelops/sampling_fixture.h"
#include "../pixelops/slot_images.h"
#include "pixelops/geometry/perspective_correction.h"

namespace astrelon::test {
namespace {

class PerspectiveTest : public SamplingTest {
protected:
  // Source in slot 1 (values f), its copy in slot 2 as the destination.
  void Source(int w, int h, const std::function<float(int, int, int)>& f, int planes = 1) {
    MakeImage(1, w, h, f, planes);
    ASSERT_TRUE(CopyImageSlot(1, 2));
  }
  static float Smooth(int x, int y, int p) { return 0.5f + 0.3f * std::sin(0.21f * x + 0.1f * p) * std::cos(0.13f * y); }
};

TEST_F(PerspectiveTest, OrientationDecidesTheCase) {
  const TGuideLine v1{10, 0, 12, 40}, v2{30, 1, 29, 39}, h1{0, 5, 40, 7}, h2{1, 30, 39, 28}, diag{0, 0, 10, 10};
  EXPECT_EQ(PerspectiveCase(v1, v2), TPerspectiveCase::Vertical);
  EXPECT_EQ(PerspectiveCase(h1, h2), TPerspectiveCase::Horizontal);
  EXPECT_EQ(PerspectiveCase(v1, h1), TPerspectiveCase::Unusable);
  EXPECT_EQ(PerspectiveCase(v1, diag), TPerspectiveCase::Unusable);
  Source(20, 20, Smooth);
  const std::vector<float> before = Plane(2, 1);
  EXPECT_FALSE(CorrectPerspective(1, 2, v1, h1));
  EXPECT_EQ(Plane(2, 1), before);
}

TEST_F(PerspectiveTest, ParallelLinesGiveTheSource) {
  SetToolMode(IkLinear);
  for (const bool vertical : {true, false}) {
    Source(41, 37, Smooth);
    const TGuideLine a = vertical ? TGuideLine{10, 0, 10, 36} : TGuideLine{0, 5, 40, 5};
    const TGuideLine b = vertical ? TGuideLine{30, 2, 30, 30} : TGuideLine{3, 25, 38, 25};
    ASSERT_TRUE(CorrectPerspective(1, 2, a, b));
    const std::vector<float> src = Plane(1, 1), got = Plane(2, 1);
    for (int y = 0; y < 37; ++y)
      for (int x = 0; x < 40; ++x) ASSERT_NEAR(got[size_t(y * 41 + x)], src[size_t(y * 41 + x)], 1e-3) << x << "," << y;
  }
}

// Lines through (29, 100)-(30, 0) and (71, 100)-(70, 0) meet at row -2000: the
// bottom edge keeps its spacing, and a value that tells where a pixel lies
// between the lines becomes the same in every row.
TEST_F(PerspectiveTest, LinesMeetingAboveKeepTheBottomRow) {
  SetToolMode(IkLinear);
  const int w = 101, h = 100;
  // Line A at row y: 29 + (100 - y) / 100; spacing 42 - 2 (100 - y) / 100.
  const auto share = [](int x, int y, int) {
    const double a = 29 + (100.0 - y) / 100, d = 42 - 2 * (100.0 - y) / 100;
    return float((x - a) / d);
  };
  for (const int planes : {1, 3}) {
    Source(w, h, share, planes);
    ASSERT_TRUE(CorrectPerspective(1, 2, {29, 100, 30, 0}, {71, 100, 70, 0}));
    for (int p = 1; p <= planes; ++p) {
      const std::vector<float> src = Plane(1, p), got = Plane(2, p);
      for (int x = 20; x < 80; ++x) {
        ASSERT_NEAR(got[size_t((h - 1) * w + x)], src[size_t((h - 1) * w + x)], 2e-3) << x;
        // At the bottom edge (row 100) line A is at 29 with spacing 42.
        for (int y = 0; y < h; ++y) ASSERT_NEAR(got[size_t(y * w + x)], (x - 29) / 42.0, 2e-3) << x << "," << y;
      }
    }
  }
}

// The map written out in numpy from its geometry (rows or columns, the
// reference edge, the pole, the mid-line), sampled with map_coordinates of order
// 1, against the linear kind.
TEST_F(PerspectiveTest, MapAgreesWithNumpyAndScipy) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy is not installed";
  SetToolMode(IkLinear);
  const int w = 61, h = 47;
  struct TCase {
    TGuideLine A, B;
    bool Vertical;
  };
  const TCase cases[] = {{{5, 0, 12, 46}, {50, 3, 44, 40}, true},
                         {{8, 46, 3, 0}, {40, 40, 52, 2}, true},
                         {{0, 4, 60, 9}, {2, 40, 58, 33}, false},
                         {{60, 30, 1, 20}, {0, 44, 55, 45}, false}};
  for (const TCase& k : cases) {
    Source(w, h, Smooth);
    ASSERT_TRUE(CorrectPerspective(1, 2, k.A, k.B));
    const std::vector<float> src = Plane(1, 1), got = Plane(2, 1);
    NumpyOracle np;
    np.Put("src", std::vector<double>(src.begin(), src.end()));
    np.Put("lines", {double(k.A.X1), double(k.A.Y1), double(k.A.X2), double(k.A.Y2), double(k.B.X1), double(k.B.Y1),
                     double(k.B.X2), double(k.B.Y2)});
    ASSERT_TRUE(np.Run("from scipy import ndimage\n"
                       "W, H = " + std::to_string(w) + ", " + std::to_string(h) + "\n"
                       "vertical = " + (k.Vertical ? "True" : "False") + "\n"
                       "img = np.fromfile(d + 'src.f64').reshape(H, W)\n"
                       "xa1, ya1, xa2, ya2, xb1, yb1, xb2, yb2 = np.fromfile(d + 'lines.f64')\n"
                       "if not vertical:\n"
                       "    xa1, ya1, xa2, ya2, xb1, yb1, xb2, yb2 = ya1, xa1, ya2, xa2, yb1, xb1, yb2, xb2\n"
                       "N, M = (H, W) if vertical else (W, H)\n"
                       "sA = (xa1 - xa2) / (ya1 - ya2); sB = (xb1 - xb2) / (yb1 - yb2)\n"
                       "if abs(sA - sB) < 1e-8: sA += 1e-8\n"
                       "a0 = xa1 - ya1 * sA; d0 = (xb1 - yb1 * sB) - a0\n"
                       "aN = xa1 + (N - ya1) * sA; dN = (xb1 + (N - yb1) * sB) - aN\n"
                       "p = -d0 / (sB - sA)\n"
                       "ref = 0.0 if p >= N / 2 else float(N)\n"
                       "m0, mN = a0 + d0 / 2, aN + dN / 2\n"
                       "dR, mR = (d0, m0) if ref == 0 else (dN, mN)\n"
                       "r = np.arange(N, dtype=float)[:, None]; c = np.arange(M, dtype=float)[None, :]\n"
                       "t = r - (2 * ref - p)\n"
                       "s = p - (ref - p) ** 2 / np.where(t == 0, np.nan, t)\n"
                       "u = s / N\n"
                       "q = m0 + (mN - m0) * u + (c - mR) * (d0 + (dN - d0) * u) / dR\n"
                       "ok = (s > -0.5) & (s < N) & (q >= 0) & (q < M)\n"
                       "s = np.broadcast_to(s, q.shape)\n"
                       "ys, xs = (s, q) if vertical else (q.T, s.T)\n"
                       "ok = ok if vertical else ok.T\n"
                       "xs32 = np.clip(xs.astype(np.float32), 0, None); ys32 = np.clip(ys.astype(np.float32), 0, None)\n"
                       "v = ndimage.map_coordinates(img, [np.nan_to_num(ys32), np.nan_to_num(xs32)], order=1, mode='nearest')\n"
                       "np.where(ok, v, -1e11).tofile(d + 'ref.f64')\n"));
    const std::vector<double> ref = np.Get("ref");
    ASSERT_EQ(ref.size(), got.size());
    int valid = 0;
    for (size_t i = 0; i < ref.size(); ++i) {
      if (ref[i] < -1e9) {
        ASSERT_EQ(got[i], BlankPixel) << i;
        continue;
      }
      ++valid;
      ASSERT_NEAR(got[i], ref[i], 1e-4) << i % w << "," << i / w;
    }
    EXPECT_GT(valid, w * h / 2);
  }
}

TEST_F(PerspectiveTest, ThreadCountDoesNotChangeTheResult) {
  const int w = 700, h = 300;
  std::vector<std::vector<float>> results;
  for (const bool multicore : {false, true}) {
    MulticoreGuard cores(multicore);
    Source(w, h, Smooth, 3);
    ASSERT_TRUE(CorrectPerspective(1, 2, {100, 0, 120, 299}, {600, 10, 570, 290}));
    results.push_back(Plane(2, 2));
  }
  EXPECT_EQ(results[0], results[1]);
}

}  // namespace
}  // namespace astrelon::test
