// The automatic 2D interference filter: stripes removed (numpy measures them),
// smooth images kept, k clamped, small and oddly shaped images.
#include <cmath>
#include <cstring>
#include <numbers>

#include "../pixelops/slot_images.h"
#include "core/settings.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "numpy_oracle.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class PeriodicNoiseFilterTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Settings;
  }
  void TearDown() override {
    Settings = saved_;
    StoreTest::TearDown();
  }
  static std::vector<float> Stripes(int w, int h) {
    std::vector<float> v(size_t(w * h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        v[size_t(y * w + x)] = float(1000 + 50 * std::sin(2 * std::numbers::pi * x / 8) + ((x * 7 + y * 13) % 5));
    return v;
  }
  static int SlotsInUse() {
    int n = 0;
    for (int s = 1; s <= MaxImageSlots; ++s) n += Store.InUse[size_t(s)];
    return n;
  }
  TSettingsVars saved_;
};

TEST_F(PeriodicNoiseFilterTest, KIsClampedAndStored) {
  EXPECT_EQ(ClampPeriodicNoiseK(0.1), 0.2);
  EXPECT_EQ(ClampPeriodicNoiseK(20), 15.9);
  EXPECT_EQ(ClampPeriodicNoiseK(std::nan("")), 0.2);
  EXPECT_EQ(ClampPeriodicNoiseK(3), 3.0);
  Settings.FftNoiseParam1 = 2.0;
  EXPECT_EQ(StoredPeriodicNoiseK(), 2.0);

  PutImage(1, 64, 48, {Stripes(64, 48)});
  std::vector<std::vector<float>> out;
  for (double k : {0.1, 0.2, 20.0, 15.9}) {
    const int r = FilterPeriodicNoiseFft(1, k);
    ASSERT_GE(r, 2);
    out.push_back(Plane(r, 1));
    FreeSlot(r);
  }
  EXPECT_EQ(out[0], out[1]);
  EXPECT_EQ(out[2], out[3]);
  EXPECT_NE(out[1], out[2]);
}

TEST_F(PeriodicNoiseFilterTest, StripesFallBelowHalfAndTheMeanStays) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy not installed";
  const int n = 256;
  const auto before = Stripes(n, n);
  PutImage(1, n, n, {before});
  const int r = FilterPeriodicNoiseFft(1, StoredPeriodicNoiseK());
  ASSERT_GE(r, 2);
  ASSERT_EQ(Store.Image[size_t(r)].Width, n);
  ASSERT_EQ(Store.Image[size_t(r)].Height, n);
  EXPECT_EQ(SlotsInUse(), 2);  // the spectrum is gone
  const auto after = Plane(r, 1);
  NumpyOracle np;
  np.Put("a", std::vector<double>(before.begin(), before.end()));
  np.Put("b", std::vector<double>(after.begin(), after.end()));
  ASSERT_TRUE(np.Run("a = np.fromfile(d + 'a.f64').reshape(256, 256)\n"
                     "b = np.fromfile(d + 'b.f64').reshape(256, 256)\n"
                     "fa = np.abs(np.fft.rfft2(a)); fb = np.abs(np.fft.rfft2(b))\n"
                     "np.array([fa[0, 32], fb[0, 32], a.mean(), b.mean()]).tofile(d + 'r.f64')"));
  const auto v = np.Get("r");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_LT(v[1], 0.5 * v[0]);
  EXPECT_NEAR(v[3], v[2], 0.005 * v[2]);
}

TEST_F(PeriodicNoiseFilterTest, SmoothImagesStay) {
  const int w = 96, h = 80;
  std::vector<float> flat(size_t(w * h), 500.0f), slope(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) slope[size_t(y * w + x)] = float(200 + x + 2 * y);
  for (const std::vector<float>& image : {flat, slope}) {
    PutImage(1, w, h, {image});
    const int r = FilterPeriodicNoiseFft(1, 2.0);
    ASSERT_GE(r, 2);
    const auto out = Plane(r, 1);
    double worst = 0, sum = 0;
    for (size_t i = 0; i < out.size(); ++i) {
      worst = std::max(worst, std::fabs(double(out[i]) - image[i]));
      sum += std::fabs(double(out[i]) - image[i]);
    }
    // The slope's edges meet in the periodic spectrum; a few coefficients there move.
    if (image == flat) {
      EXPECT_LT(worst, 1e-3);
    }
    EXPECT_LT(sum / double(out.size()), 0.5);
    FreeSlot(r);
  }
}

TEST_F(PeriodicNoiseFilterTest, SmallSpectraAndOddShapes) {
  // Without an outer margin a 2 x 2 image has a 4 x 2 spectrum: no result, no slot left.
  Settings.FftNoiseParam2 = 0;
  PutImage(1, 2, 2, {{1, 2, 3, 4}});
  EXPECT_EQ(FilterPeriodicNoiseFft(1, 2.0), -1);
  EXPECT_EQ(SlotsInUse(), 1);
  EXPECT_EQ(FilterPeriodicNoiseFft(7, 2.0), -1);
  Settings = saved_;
  // Tall and wide spectra: the reference lines stay inside.
  for (const auto& [w, h] : {std::pair{100, 400}, {400, 100}, {102, 400}}) {
    PutImage(2, w, h, {Stripes(w, h)});
    const int r = FilterPeriodicNoiseFft(2, 0.2);
    ASSERT_GE(r, 3) << w << "x" << h;
    EXPECT_EQ(Store.Image[size_t(r)].Width, w);
    FreeSlot(r);
    FreeSlot(2);
  }
}

TEST_F(PeriodicNoiseFilterTest, PlanesOutsideTheSelectionAreTheSource) {
  const auto s = Stripes(64, 64);
  PutImage(1, 64, 64, {s, s, s});
  Store.Display[1].ChannelSelection = 1;
  const int r = FilterPeriodicNoiseFft(1, 2.0);
  ASSERT_GE(r, 2);
  EXPECT_NE(Plane(r, 1), s);
  EXPECT_EQ(Plane(r, 2), s);
  EXPECT_EQ(Plane(r, 3), s);
}

}  // namespace
}  // namespace astrelon::test
