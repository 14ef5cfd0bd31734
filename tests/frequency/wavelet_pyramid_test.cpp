// The wavelet filter's pyramid: level sizes, the reduce and expand rules with
// blank pixels against numpy, the rebuild of an unfiltered pyramid, and the
// ranges of levels with blank pixels.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/wavelet/wavelet_noise_filter.h"
#include "frequency/wavelet/wavelet_pyramid.h"
#include "frequency/wavelet/wavelet_resample.h"
#include "numpy_oracle.h"
#include "platform/processor_features.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

// Mismatched level sizes are refused with a German text (it reaches the message box).
TEST(WaveletResample, MismatchedLevelSizesAreRefusedInGerman) {
  std::vector<float> a(64), b(64), rows;
  const TPlaneView big{a.data(), 8, 8, 8}, wrong{b.data(), 3, 3, 3};
  const auto text = [](const auto& call) {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(text([&] { ReduceLevel(big, wrong, rows, 1); }).rfind("Interner Fehler: ", 0), 0u);
  EXPECT_EQ(text([&] { ExpandLevel(wrong, big, 1); }).rfind("Interner Fehler: ", 0), 0u);
}

class WaveletPyramid : public test::StoreTest {
protected:
  void TearDown() override {
    FreePyramid(0);
    test::StoreTest::TearDown();
  }
  static TRectI Whole(int slot) { return {0, 0, Store.Image[size_t(slot)].Width - 1, Store.Image[size_t(slot)].Height - 1}; }
};

TEST_F(WaveletPyramid, LevelsHalveRoundingUpAndTheSetKeepsItsRectangleAndPlanes) {
  test::MakeImage(1, 9, 9, 3, test::Sky);
  Store.Display[1].ChannelSelection = 2;  // green only
  const TRectI rect{2, 3, 6, 7};          // 5 x 5
  ASSERT_TRUE(BuildPyramid(1, 0, 4, rect));
  const TPyramidSet& s = PyramidSets[0];
  EXPECT_EQ(s.Width, 5);
  EXPECT_EQ(s.Height, 5);
  EXPECT_EQ(s.LevelCount, 4);
  EXPECT_EQ(s.Rect.Left, 2);
  EXPECT_EQ(s.Rect.Bottom, 7);
  EXPECT_EQ(s.Built, (std::array<bool, 4>{false, false, true, false}));
  const int sides[5] = {5, 3, 2, 1, 1};
  for (int l = 0; l <= 4; ++l) {
    EXPECT_EQ(s.Levels[2][size_t(l)].Width, sides[l]) << l;
    EXPECT_EQ(s.Levels[2][size_t(l)].Height, sides[l]) << l;
  }
  EXPECT_TRUE(s.Levels[1][0].Data.empty());
  // Bad rectangles and level counts leave the set empty.
  EXPECT_FALSE(BuildPyramid(1, 0, 4, {0, 0, 9, 8}));
  EXPECT_FALSE(BuildPyramid(1, 0, 5, rect));
  EXPECT_FALSE(BuildPyramid(1, 1, 4, rect));
  EXPECT_EQ(PyramidSets[0].Built, (std::array<bool, 4>{}));
}

TEST_F(WaveletPyramid, ExpandingTwoSamplesToThreeWritesOnlyThree) {
  // Exactly sized buffers: a write beyond them is an ASan error.
  std::vector<float> src{10, 40}, dst(3);
  ExpandLevel({src.data(), 2, 1, 2}, {dst.data(), 3, 1, 3}, 1);
  EXPECT_FLOAT_EQ(dst[0], (10 + 40 / 6.0f) / (7 / 6.0f));
  EXPECT_FLOAT_EQ(dst[1], 25);
  EXPECT_FLOAT_EQ(dst[2], (10 / 6.0f + 40) / (7 / 6.0f));
  // To four samples the last repeats s[1]; a blank neighbour drops out.
  std::vector<float> four(4);
  ExpandLevel({src.data(), 2, 1, 2}, {four.data(), 4, 1, 4}, 1);
  EXPECT_FLOAT_EQ(four[3], 40);
  src[0] = BlankPixel;
  ExpandLevel({src.data(), 2, 1, 2}, {four.data(), 4, 1, 4}, 1);
  EXPECT_EQ(four, (std::vector<float>{40, 40, 40, 40}));
  // Vertically too, from a one-row level.
  std::vector<float> column{5}, tall(2);
  ExpandLevel({column.data(), 1, 1, 1}, {tall.data(), 1, 2, 1}, 1);
  EXPECT_EQ(tall, (std::vector<float>{5, 5}));
  src = {BlankPixel, BlankPixel};
  ExpandLevel({src.data(), 2, 1, 2}, {dst.data(), 3, 1, 3}, 1);
  for (float v : dst) EXPECT_EQ(v, BlankPixel);
}

TEST_F(WaveletPyramid, ReduceAndExpandAgreeWithNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy is not installed";
  const int w = 13, h = 9;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> value(-50, 50);
  std::vector<float> plane(size_t(w * h));
  for (float& v : plane) v = value(rng);
  for (int i : {0, 14, 15, 40, 77, 116}) plane[size_t(i)] = BlankPixel;
  const int rw = ReducedLength(w), rh = ReducedLength(h);
  std::vector<float> reduced(size_t(rw * rh)), expanded(size_t(w * h)), scratch;
  ReduceLevel({plane.data(), w, h, w}, {reduced.data(), rw, rh, rw}, scratch, 1);
  ExpandLevel({reduced.data(), rw, rh, rw}, {expanded.data(), w, h, w}, 1);

  test::NumpyOracle np;
  np.Put("p", std::vector<double>(plane.begin(), plane.end()));
  ASSERT_TRUE(np.Run(R"(
def mean(vals, wts):
    v = np.array(vals); w = np.array(wts); ok = v > -1e9
    return (v[ok] * w[ok]).sum() / w[ok].sum() if ok.any() else -1e11
def reduce1(s):
    n = len(s); wts = [1/6, 2/3, 1, 2/3, 1/6]
    return [mean([s[2*x+k] for k in range(-2, 3) if 0 <= 2*x+k < n], [wts[k+2] for k in range(-2, 3) if 0 <= 2*x+k < n]) for x in range((n+1)//2)]
def expand1(s, m):
    n = len(s); out = []
    for o in range(m):
        i = o // 2
        if o % 2 == 0:
            idx = [j for j in (i-1, i, i+1) if 0 <= j < n]; wts = [1 if j == i else 1/6 for j in idx]
        elif i + 1 < n:
            idx = [i, i+1]; wts = [1, 1]
        else:
            idx = [i]; wts = [1]
        out.append(mean([s[j] for j in idx], wts))
    return out
p = np.fromfile(d + 'p.f64').reshape(9, 13)
rows = np.array([reduce1(r) for r in p])
red = np.array([reduce1(c) for c in rows.T]).T
cols = np.array([expand1(c, 9) for c in red.T]).T
exp = np.array([expand1(r, 13) for r in cols])
red.tofile(d + 'r.f64'); exp.tofile(d + 'e.f64')
)"));
  const std::vector<double> r = np.Get("r"), e = np.Get("e");
  ASSERT_EQ(r.size(), reduced.size());
  ASSERT_EQ(e.size(), expanded.size());
  for (size_t i = 0; i < r.size(); ++i) EXPECT_NEAR(reduced[i], r[i], 1e-4 * (1 + std::fabs(r[i]))) << i;
  for (size_t i = 0; i < e.size(); ++i) EXPECT_NEAR(expanded[i], e[i], 1e-4 * (1 + std::fabs(e[i]))) << i;
}

TEST_F(WaveletPyramid, VectorAndScalarLoopsGiveTheSameBits) {
  const bool saved = Sse2Enabled;
  test::MakeImage(1, 75, 41, 1, test::Sky);
  Store.Image[1].At(1, 30, 20) = BlankPixel;
  std::vector<float> rebuilt[2];
  std::vector<float> levels[2];
  for (int vector = 0; vector <= 1; ++vector) {
    Sse2Enabled = vector == 1;
    test::MakeImage(2, 75, 41, 1, [](int, int, int) { return 0.0f; });
    ASSERT_TRUE(BuildPyramid(1, 0, 4, Whole(1)));
    for (const TPyramidLevel& l : PyramidSets[0].Levels[1]) levels[vector].insert(levels[vector].end(), l.Data.begin(), l.Data.end());
    CollapsePyramid(0, 2, 1, 4, std::array<float, 5>{1.5f, 0.5f, 1, 2, 1}, Whole(1));
    rebuilt[vector] = test::PlaneValues(2, 1);
  }
  Sse2Enabled = saved;
  EXPECT_EQ(levels[0], levels[1]);
  EXPECT_EQ(rebuilt[0], rebuilt[1]);
}

TEST_F(WaveletPyramid, ABlankChangesOnlyThePixelsThatReadIt) {
  // A row with a blank sample is computed value by value: elsewhere in that row
  // the numbers are those of a row without it.
  const int w = 20, h = 8;
  std::vector<float> src(size_t(w * h));
  for (int i = 0; i < w * h; ++i) src[size_t(i)] = 10 + float((i * 37) % 11) * 1.37f + float(i / 7) * 0.11f;
  std::vector<float> clean(size_t(4 * w * h)), holed(clean.size());
  ExpandLevel({src.data(), w, h, w}, {clean.data(), 2 * w, 2 * h, 2 * w}, 1);
  src[size_t(3 * w + 15)] = BlankPixel;
  ExpandLevel({src.data(), w, h, w}, {holed.data(), 2 * w, 2 * h, 2 * w}, 1);
  for (int y = 0; y < 2 * h; ++y)
    for (int x = 0; x < 2 * w; ++x) {
      // Outputs near (30, 6) read the blank sample; the others must not change at all.
      if (std::abs(x - 30) <= 2 && std::abs(y - 6) <= 2) continue;
      EXPECT_EQ(holed[size_t(y * 2 * w + x)], clean[size_t(y * 2 * w + x)]) << x << "," << y;
    }
  EXPECT_NE(holed[size_t(6 * 2 * w + 31)], clean[size_t(6 * 2 * w + 31)]);
}

TEST_F(WaveletPyramid, UnfilteredPyramidRebuildsTheSource) {
  // Plain filtering with thresholds 0 and gains 1 gives the source back; the
  // pixels outside the rectangle keep the copy.
  test::MakeImage(1, 37, 23, 1, [](int x, int y, int) { return test::Sky(x, y, 1) / 150.0f; });
  Store.Image[1].At(1, 20, 10) = BlankPixel;
  test::MakeImage(2, 37, 23, 1, [](int, int, int) { return -7.0f; });
  const TRectI rect{3, 2, 33, 20};
  ASSERT_TRUE(BuildPyramid(1, 0, 4, rect));
  TWaveletFilterOptions o;
  o.Thresholds = {0, 0, 0, 0};
  ASSERT_TRUE(PyramidNoiseFilter(1, 0, 1, o, 2, rect));
  const std::array<float, 5> gains{1, 1, 1, 1, 1};
  CollapsePyramid(0, 2, 1, 4, gains, rect);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      const bool inside = x >= rect.Left && x <= rect.Right && y >= rect.Top && y <= rect.Bottom;
      const float want = inside ? Store.Image[1].At(1, x, y) : -7.0f;
      if (!IsValidPixel(want)) {
        EXPECT_FALSE(IsValidPixel(Store.Image[2].At(1, x, y)));
        continue;
      }
      EXPECT_NEAR(Store.Image[2].At(1, x, y), want, 1e-5) << x << "," << y;
    }
  // A plane that was not built, or another rectangle, changes nothing.
  const std::vector<float> before = test::PlaneValues(2, 1);
  CollapsePyramid(0, 2, 2, 4, gains, rect);
  CollapsePyramid(0, 2, 1, 4, gains, {0, 0, 5, 5});
  EXPECT_EQ(test::PlaneValues(2, 1), before);
}

TEST_F(WaveletPyramid, GainsScaleTheDetailLayers) {
  test::MakeImage(1, 32, 32, 1, test::Sky);
  test::MakeImage(2, 32, 32, 1, test::Sky);
  ASSERT_TRUE(BuildPyramid(1, 0, 4, Whole(1)));
  // Gain 0 on every layer leaves the residual expanded: a smooth image.
  CollapsePyramid(0, 2, 1, 4, std::array<float, 5>{0, 0, 0, 0, 1}, Whole(1));
  double detail = 0, smooth = 0;
  for (int y = 1; y < 31; ++y)
    for (int x = 1; x < 31; ++x) {
      detail += std::fabs(Store.Image[1].At(1, x + 1, y) - Store.Image[1].At(1, x, y));
      smooth += std::fabs(Store.Image[2].At(1, x + 1, y) - Store.Image[2].At(1, x, y));
    }
  EXPECT_LT(smooth, 0.5 * detail);
}

TEST_F(WaveletPyramid, BlankPixelsAreLeftOutOfALevelsRange) {
  test::MakeImage(1, 8, 8, 1, [](int x, int, int) { return float(x); });
  Store.Image[1].At(1, 3, 3) = BlankPixel;
  ASSERT_TRUE(BuildPyramid(1, 0, 2, Whole(1)));
  const TPyramidLevel& residual = PyramidSets[0].Levels[1][2];
  EXPECT_GT(residual.Min, -1.0f);
  EXPECT_LT(residual.Max, 8.0f);
  // A level without valid pixels gets 0 .. 1.
  for (float& v : PyramidSets[0].Levels[1][2].Data) v = BlankPixel;
  UpdateLevelRange(0, 1, 2);
  EXPECT_EQ(residual.Min, 0.0f);
  EXPECT_EQ(residual.Max, 1.0f);
}

}  // namespace
}  // namespace astrelon
