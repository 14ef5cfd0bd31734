// Added noise: its strength and distribution, the planes it leaves alone, the
// low pass, the brightness scale, thread independence and the abort.
#include <cmath>
#include <cstring>

#include "common/engine_ui.h"
#include "numpy_oracle.h"
#include "pixelops/pixels/synthetic_noise.h"
#include "platform/processor_features.h"
#include "slot_images.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class SyntheticNoiseTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SyntheticNoise = {};
  }
  // A constant w x h grey image in slots 1 (source) and 2 (destination).
  void Constant(int w, int h, float value) {
    PutImage(1, w, h, {std::vector<float>(size_t(w * h), value)});
    PutImage(2, w, h, {std::vector<float>(size_t(w * h), value)});
  }
  static std::vector<double> Difference(int p = 1) {
    const auto a = Plane(2, p), b = Plane(1, p);
    std::vector<double> d(a.size());
    for (size_t i = 0; i < a.size(); ++i) d[i] = double(a[i]) - b[i];
    return d;
  }
  static void MeanAndDeviation(const std::vector<double>& v, double& mean, double& sd) {
    double s = 0, q = 0;
    for (double x : v) s += x;
    mean = s / double(v.size());
    for (double x : v) q += (x - mean) * (x - mean);
    sd = std::sqrt(q / double(v.size()));
  }
};

TEST_F(SyntheticNoiseTest, SliderAmounts) {
  EXPECT_EQ(NoiseAmountText(91), "9.00");
  EXPECT_EQ(NoiseAmountText(100), "0.00");
  EXPECT_EQ(NoiseAmountText(0), "1111.11");
}

TEST_F(SyntheticNoiseTest, StrengthOfEachDistribution) {
  Constant(512, 512, 100.0f);
  for (const bool uniform : {false, true}) {
    TNoiseSettings s;
    s.Amount = 10;
    s.Distribution = uniform ? TNoiseDistribution::Random : TNoiseDistribution::Gauss;
    ASSERT_TRUE(AddSyntheticNoise(1, 2, s, 42));
    double mean = 0, sd = 0;
    const auto d = Difference();
    MeanAndDeviation(d, mean, sd);
    EXPECT_NEAR(sd, 10.0, 0.3) << uniform;
    EXPECT_LT(std::fabs(mean), 0.2) << uniform;
    double largest = 0;
    for (double x : d) largest = std::max(largest, std::fabs(x));
    if (uniform) EXPECT_LE(largest, 10 * std::sqrt(3.0) + 1e-3);  // half the width of the uniform range
    else EXPECT_GT(largest, 10 * std::sqrt(3.0));
  }
  EXPECT_TRUE(SyntheticNoise.Valid);
  EXPECT_EQ(SyntheticNoise.Last.Distribution, TNoiseDistribution::Random);
  EXPECT_FALSE(SyntheticNoise.Busy);
}

TEST_F(SyntheticNoiseTest, LowPassCorrelatesNeighboursAndSparesTheEdgeRows) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy not installed";
  const int n = 512;
  Constant(n, n, 0.0f);
  TNoiseSettings s;
  s.Amount = 10;
  ASSERT_TRUE(AddSyntheticNoise(1, 2, s, 7));
  const auto white = Plane(2, 1);
  s.LowPass = true;
  ASSERT_TRUE(AddSyntheticNoise(1, 2, s, 7));
  const auto low = Plane(2, 1);
  // The first row has had only the horizontal pass.
  for (int x = 1; x < n - 1; ++x)
    ASSERT_FLOAT_EQ(low[size_t(x)],
                    float(((double(white[size_t(x - 1)]) + white[size_t(x + 1)]) * 0.176 + white[size_t(x)]) * 0.9416));
  EXPECT_EQ(low[0], white[0]);
  NumpyOracle np;
  np.Put("v", std::vector<double>(low.begin(), low.end()));
  ASSERT_TRUE(np.Run("v = np.fromfile(d + 'v.f64').reshape(512, 512)\n"
                     "r = [v.std(), np.corrcoef(v[:, :-1].ravel(), v[:, 1:].ravel())[0, 1],\n"
                     "     np.corrcoef(v[:-1, :].ravel(), v[1:, :].ravel())[0, 1]]\n"
                     "np.array(r).tofile(d + 'r.f64')"));
  const auto r = np.Get("r");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_NEAR(r[0], 10.0, 0.4);
  EXPECT_NEAR(r[1], 0.33, 0.05);
  EXPECT_NEAR(r[2], 0.33, 0.05);
}

TEST_F(SyntheticNoiseTest, AmountZeroBlanksAndUnselectedPlanesKeepTheSource) {
  std::vector<float> a{1, 2, BlankPixel, 4, 5, 6};
  PutImage(1, 3, 2, {a, a, a});
  PutImage(2, 3, 2, {std::vector<float>(6, 9.0f), std::vector<float>(6, 9.0f), std::vector<float>(6, 9.0f)});
  TNoiseSettings s;
  s.Amount = 0;
  ASSERT_TRUE(AddSyntheticNoise(1, 2, s));
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{1, 2, 9, 4, 5, 6}));  // a blank source pixel leaves the destination

  Store.Display[2].ChannelSelection = 2;
  PutImage(2, 3, 2, {a, a, a});
  s.Amount = 50;
  ASSERT_TRUE(AddSyntheticNoise(1, 2, s));
  EXPECT_EQ(Plane(2, 1), a);
  EXPECT_NE(Plane(2, 2), a);
  EXPECT_EQ(Plane(2, 3), a);
}

TEST_F(SyntheticNoiseTest, BrightnessScaleOnAPedestal) {
  const int w = 200, h = 100;
  std::vector<float> v(size_t(w * h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) v[size_t(y * w + x)] = 1000.0f + float(x) / 2;
  PutImage(1, w, h, {v});
  PutImage(2, w, h, {v});
  TNoiseSettings s;
  s.Amount = 10;
  s.BrightnessScaled = true;
  ASSERT_TRUE(AddSyntheticNoise(1, 2, s, 5));
  double mean = 0, sd = 0;
  MeanAndDeviation(Difference(), mean, sd);
  EXPECT_GT(sd, 5.0);
  EXPECT_LT(sd, 20.0);
}

TEST_F(SyntheticNoiseTest, SameNoiseOnAnyThreadCountAndPath) {
  // A slope with blank pixels; the scalar paths (vector off) against the vector ones.
  const int w = 1501, h = 1400;
  std::vector<float> v(size_t(w * h));
  for (size_t i = 0; i < v.size(); ++i) v[i] = i % 997 == 5 ? BlankPixel : 100.0f + float(i % w) * 0.5f;
  PutImage(1, w, h, {v});
  TNoiseSettings lowPass, scaled;
  lowPass.LowPass = true;
  scaled.Distribution = TNoiseDistribution::Random;
  scaled.BrightnessScaled = true;
  const bool savedSse2 = Sse2Enabled;
  for (const TNoiseSettings& s : {TNoiseSettings{}, lowPass, scaled}) {
    std::vector<std::vector<float>> runs;
    for (const auto& [cores, vector] : {std::pair{false, false}, {true, true}, {false, true}}) {
      MulticoreGuard guard(cores);
      Sse2Enabled = vector;
      PutImage(2, w, h, {v});
      ASSERT_TRUE(AddSyntheticNoise(1, 2, s, 99));
      runs.push_back(Plane(2, 1));
    }
    for (size_t k = 1; k < runs.size(); ++k)
      EXPECT_EQ(std::memcmp(runs[0].data(), runs[k].data(), runs[0].size() * sizeof(float)), 0)
          << s.LowPass << s.BrightnessScaled << " run " << k;
    EXPECT_EQ(runs[0][5], BlankPixel);  // the blank source pixel left the destination alone
  }
  Sse2Enabled = savedSse2;
}

TEST_F(SyntheticNoiseTest, AbortStopsAndKeepsTheLastSettings) {
  struct AbortingUi : TEngineUi {
    void ProcessMessages() override { AbortRequested = 1; }
  } ui;
  SetEngineUi(&ui);
  Constant(1200, 1200, 0.0f);
  TNoiseSettings s;
  const bool done = AddSyntheticNoise(1, 2, s);
  SetEngineUi(nullptr);
  AbortRequested = 0;
  EXPECT_FALSE(done);
  EXPECT_FALSE(SyntheticNoise.Busy);
  EXPECT_FALSE(SyntheticNoise.Valid);
}

}  // namespace
}  // namespace astrelon::test
