// The self-trained enlargement: its parameter limits, the inputs of one window,
// the result's size and range, one seed giving one result, a stop by the poll
// or the abort flag, a flat image refused, and on a photograph halved by block
// means a result in place that beats its own bilinear base and the
// triangulation.
#include "filters/enlargement/autoscan_enlargement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "../filters/filter_images.h"
#include "../frequency/numpy_oracle.h"
#include "filters/enlargement/upscale_x2_triangulation.h"
#include "kernels/network/network_weights.h"

namespace astrelon::test {
namespace {

class AutoscanTest : public KernelTest {
protected:
  void TearDown() override {
    Network = TNetworkWeights{};
    KernelTest::TearDown();
  }
};

float Pattern(int p, int x, int y) {
  return 50.0f * float(p) + 30.0f * std::sin(0.7f * float(x)) * std::cos(0.4f * float(y)) + float(x % 5);
}

TEST_F(AutoscanTest, SettingsAreClampedIntoTheirRanges) {
  struct Case {
    TAutoscanSettings In, Out;
  };
  const Case cases[] = {
      {{0, 5, 5}, {1, 10, 10}},
      {{11, 500, 1000}, {10, 100, 300}},
      {{2, 21, 45}, {2, 21, 45}},
  };
  for (const Case& c : cases) {
    const TAutoscanSettings s = ClampAutoscanSettings(c.In);
    EXPECT_EQ(s.Quality, c.Out.Quality);
    EXPECT_EQ(s.Neurons, c.Out.Neurons);
    EXPECT_EQ(s.ScanBox, c.Out.ScanBox);
  }
}

TEST_F(AutoscanTest, InputsAreTheWindowAtItsTopLeftCorner) {
  TAutoscanImages im;
  im.Mid = 10;
  im.S = 5;
  im.Work.Width = 6;
  im.Work.Height = 6;
  for (int i = 0; i < 36; ++i) im.Work.Values.push_back(float(i));
  AutoscanInputs(im.Work, 1, 0, im);
  // Index 0 is (x + 1, y), the centre 10 is (x + 2, y + 2) = 15.
  EXPECT_EQ(NetworkPass.X[0], (2.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[10], (15.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[20], (28.0f - 10) / 5);  // (4, 4)
  EXPECT_DOUBLE_EQ(im.Spread, 28 - 2 + 1.25);
  // Outside the image: the centre clamped into it (5, 5) = 35.
  AutoscanInputs(im.Work, 4, 4, im);
  EXPECT_EQ(NetworkPass.X[20], (35.0f - 10) / 5);
  EXPECT_EQ(NetworkPass.X[0], (29.0f - 10) / 5);  // (5, 4)
}

TEST_F(AutoscanTest, ResultIsTwiceAsLargeWithinTheWorkRangeAndRepeatable) {
  for (int planes : {1, 3}) {
    MakeImage(1, 34, 28, planes, Pattern);
    MakeResult(1, 2);
    const TAutoscanSettings s{1, 10, 20};
    ASSERT_EQ(UpscaleX2Autoscan(1, 2, s, 77), TAutoscanEnd::Done);
    MakeResult(1, 3);
    ASSERT_EQ(UpscaleX2Autoscan(1, 3, s, 77), TAutoscanEnd::Done);
    TAutoscanImages work;
    ASSERT_TRUE(MakeAutoscanWorkImage(1, work));
    const TImageSlot& r = Store.Image[2];
    EXPECT_EQ(r.Width, 68);
    EXPECT_EQ(r.Height, 56);
    for (int p = 1; p <= planes; ++p) {
      EXPECT_EQ(r.Planes[size_t(p)], Store.Image[3].Planes[size_t(p)]) << "one seed, one result";
      for (float v : r.Planes[size_t(p)]) {
        ASSERT_GE(v, work.Low);
        ASSERT_LE(v, work.High);
      }
    }
    // A grey result follows the image: its mean error against the source's
    // pixels is far below the range.
    if (planes == 1) {
      double err = 0;
      for (int y = 0; y < 56; ++y)
        for (int x = 0; x < 68; ++x) err += std::fabs(r.At(1, x, y) - Store.Image[1].At(1, x / 2, y / 2));
      EXPECT_LT(err / (56 * 68), 0.25 * (work.High - work.Low));
    }
  }
}

TEST_F(AutoscanTest, StopsWhenAskedAndRefusesFlatImages) {
  MakeImage(1, 30, 30, 1, Pattern);
  MakeResult(1, 2);
  int calls = 0;
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1, [&](bool, int) { return ++calls < 10; }), TAutoscanEnd::Aborted);
  EXPECT_EQ(calls, 10);
  EXPECT_EQ(Store.Image[2].Width, 30) << "an aborted run leaves the destination";
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1, [&](bool scanning, int) {
              if (scanning) AbortRequested = 1;
              return true;
            }),
            TAutoscanEnd::Aborted);
  MakeGrey(1, 30, 30, [](int, int) { return 3.0f; });
  MakeResult(1, 2);
  EXPECT_EQ(UpscaleX2Autoscan(1, 2, {}, 1), TAutoscanEnd::Flat);
}


// The RMS difference of two 2w x 2h planes over the pixels at least 8 from the border.
double InnerRms(const std::vector<float>& a, const std::vector<double>& b, int w2, int h2) {
  double sum = 0;
  int n = 0;
  for (int y = 8; y < h2 - 8; ++y)
    for (int x = 8; x < w2 - 8; ++x, ++n) {
      const double d = a[size_t(y * w2 + x)] - b[size_t(y * w2 + x)];
      sum += d * d;
    }
  return std::sqrt(sum / n);
}

// libjpeg-turbo's test photograph in grey, halved by block means and enlarged
// again: without learning the network gives its bilinear base, which is
// scikit-image's bilinear enlargement; what it learns brings it closer to the
// original than that base and than the triangulation, in place (the best
// sub-pixel shift onto the original is none).
TEST_F(AutoscanTest, LearntEnlargementBeatsItsBaseAndTheTriangulationInPlace) {
  if (!HaveNumpy() || std::system("/usr/bin/python3 -c 'import skimage' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3-numpy or python3-skimage missing";
  NumpyOracle np;
  ASSERT_TRUE(np.Run("from skimage import io\n"
                     "from skimage.transform import resize\n"
                     "a = io.imread('" + DataFile("libjpeg-turbo/testorig.ppm") + "').astype(float) @ [0.299, 0.587, 0.114]\n"
                     "h, w = a.shape[0] // 2, a.shape[1] // 2\n"
                     "a = a[:2 * h, :2 * w]\n"
                     "half = a.reshape(h, 2, w, 2).mean(axis=(1, 3))\n"
                     "bilinear = resize(half, (2 * h, 2 * w), order=1, mode='edge', anti_aliasing=False)\n"
                     "for n, v in (('size', np.array([w, h])), ('orig', a), ('half', half), ('bilinear', bilinear)):\n"
                     "    v.astype('<f8').tofile(d + n + '.f64')"));
  const std::vector<double> size = np.Get("size"), orig = np.Get("orig"), half = np.Get("half"),
                            bilinear = np.Get("bilinear");
  ASSERT_EQ(size.size(), 2u);
  const int w = int(size[0]), h = int(size[1]), w2 = 2 * w, h2 = 2 * h;
  MakeImage(1, w, h, 1, [&](int, int x, int y) { return float(half[size_t(y * w + x)]); });
  auto enlarge = [&](bool train) {
    MakeResult(1, 2);
    TAutoscanSettings s;
    s.Train = train;
    EXPECT_EQ(UpscaleX2Autoscan(1, 2, s, AutoscanDefaultSeed), TAutoscanEnd::Done);
    return std::vector<float>(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  };
  const std::vector<float> learnt = enlarge(true), base = enlarge(false);
  MakeResult(1, 2);
  ASSERT_TRUE(UpscaleX2Triangulation(1, 2));
  const std::vector<float> triangulation(Store.Image[2].Planes[1].begin(), Store.Image[2].Planes[1].end());
  ASSERT_EQ(learnt.size(), orig.size());

  for (int y = 2; y < h2 - 2; ++y)
    for (int x = 2; x < w2 - 2; ++x) ASSERT_NEAR(base[size_t(y * w2 + x)], bilinear[size_t(y * w2 + x)], 1e-3) << x << "," << y;
  const double rmsLearnt = InnerRms(learnt, orig, w2, h2);
  EXPECT_LT(rmsLearnt, InnerRms(base, orig, w2, h2));
  EXPECT_LT(rmsLearnt, InnerRms(triangulation, orig, w2, h2));

  np.Put("learnt", std::vector<double>(learnt.begin(), learnt.end()));
  ASSERT_TRUE(np.Run("from scipy import ndimage\n"
                     "o = np.fromfile(d + 'orig.f64').reshape(" + std::to_string(h2) + ", " + std::to_string(w2) + ")\n"
                     "r = np.fromfile(d + 'learnt.f64').reshape(o.shape)\n"
                     "steps = np.arange(-0.5, 0.51, 0.125)\n"
                     "err = [(np.mean((ndimage.shift(r, (dy, dx), order=3, mode='nearest') - o)[8:-8, 8:-8] ** 2), dx, dy)\n"
                     "       for dy in steps for dx in steps]\n"
                     "np.array(min(err)[1:]).tofile(d + 'shift.f64')"));
  const std::vector<double> shift = np.Get("shift");
  ASSERT_EQ(shift.size(), 2u);
  EXPECT_LE(std::fabs(shift[0]), 0.125);
  EXPECT_LE(std::fabs(shift[1]), 0.125);
}

}  // namespace
}  // namespace astrelon::test
