// Matching the radial frequency response: the bins against numpy's rfft2, an
// image matched to itself, and a sharp image matched to a smoothed one.
#include <cmath>

#include "frequency/spectra/frequency_response_match.h"
#include "kernels/fft/spectrum_pow2.h"
#include "kernels/regions/owned_slot.h"
#include "numpy_oracle.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

class FrequencyMatch : public test::StoreTest {};

TEST_F(FrequencyMatch, RadialMeansAgreeWithNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "numpy not installed";
  test::MakeImage(1, 32, 16, 1, test::Sky);
  const TOwnedSlot spectrum(ImageToFft2DPow2(1, 0, 0, false));
  ASSERT_TRUE(spectrum.Made());
  const std::vector<double> got = RadialMeanAmplitudes(spectrum.Get(), 32);
  ASSERT_EQ(got.size(), 24u);  // round(√2 · 16) + 1
  std::vector<double> image;
  for (float v : Store.Image[1].Planes[1]) image.push_back(v);
  test::NumpyOracle np;
  np.Put("image", image);
  ASSERT_TRUE(np.Run("a = np.fromfile(d + 'image.f64').reshape(16, 32)\n"
                     "f = np.abs(np.fft.rfft2(a) / a.size)\n"
                     "fy = np.abs(np.fft.fftfreq(16))[:, None] * 2\n"
                     "fx = np.fft.rfftfreq(32)[None, :] * 2\n"
                     "b = np.rint(np.sqrt(fx**2 + fy**2) * 16).astype(int)\n"
                     "s = np.bincount(b.ravel(), f.ravel(), 24)\n"
                     "c = np.bincount(b.ravel(), None, 24)\n"
                     "m = np.zeros(24)\n"
                     "for k in range(24):\n"
                     "    m[k] = s[k] / c[k] if c[k] else m[k - 1]\n"
                     "m.tofile(d + 'm.f64')"));
  const std::vector<double> ref = np.Get("m");
  ASSERT_EQ(ref.size(), got.size());
  for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], ref[k], 1e-6 * (1 + ref[k])) << k;
}

TEST_F(FrequencyMatch, ItselfIsLeftAlone) {
  test::MakeImage(1, 64, 32, 3, test::Sky);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  ASSERT_TRUE(MatchFrequencyResponse(2, 1));
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < Store.Image[1].PixelCount(); ++i)
      ASSERT_NEAR(Store.Image[2].Planes[size_t(p)][i], Store.Image[1].Planes[size_t(p)][i], 1e-4) << p << " " << i;
}

TEST_F(FrequencyMatch, SharpImageTakesTheResponseOfASmoothOne) {
  test::MakeImage(1, 64, 64, 1, test::Sky);
  // The reference: the same picture averaged over 3 × 3 (wrapping around).
  test::MakeImage(3, 64, 64, 1, [](int x, int y, int p) {
    float s = 0;
    for (int j = -1; j <= 1; ++j)
      for (int i = -1; i <= 1; ++i) s += test::Sky((x + i + 64) % 64, (y + j + 64) % 64, p);
    return s / 9;
  });
  ASSERT_TRUE(CopyImageSlot(1, 2));
  ASSERT_TRUE(MatchFrequencyResponse(2, 3));
  auto relative = [](int slot) {
    const TOwnedSlot spectrum(ImageToFft2DPow2(slot, 0, 0, false));
    std::vector<double> m = RadialMeanAmplitudes(spectrum.Get(), 64);
    for (double& v : m) v /= m[0];
    return m;
  };
  const std::vector<double> want = relative(3), before = relative(1), after = relative(2);
  for (size_t k = 1; k < want.size(); ++k) EXPECT_NEAR(after[k], want[k], 1e-4 + 1e-3 * want[k]) << k;
  EXPECT_GT(before[40], 2 * want[40]);
  // The mean level is kept.
  EXPECT_NEAR(GetPlaneMean(2, 1), GetPlaneMean(1, 1), 1e-3);
}

}  // namespace
}  // namespace astrelon
