// Transform lengths, factor lists, the kept tables and the engine against numpy.
#include <cmath>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../frequency/numpy_oracle.h"
#include "kernels/fft/fft_edges.h"
#include "kernels/fft/fft_lines.h"
#include "kernels/fft/fft_plan.h"
#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/fft_workspace.h"
#include "kernels/fft/pow2_lines.h"

namespace astrelon {
namespace {

// Refused sizes reach the user's message box: their texts are German.
TEST(FftEngine, RefusedSizesSayWhyInGerman) {
  const auto german = [](const auto& call) {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return std::string(e.what()).rfind("Interner Fehler: ", 0) == 0;
    }
    return false;
  };
  std::vector<double> two(2), eight(8);
  std::vector<float> src(12), dst(8);
  EXPECT_TRUE(german([&] { HermitianComplete(8, two, eight); }));
  EXPECT_TRUE(german([&] { CopyIntoPadded(src, 4, 3, dst, 4, 3, 1); }));
  EXPECT_TRUE(german([&] { PreparePow2Line(src.data(), 1, 8, 0, 0.0f, false, two, two); }));
  EXPECT_TRUE(german([&] { MixedRadixFft(*FftPlanFor(8), two, two, eight, eight); }));
}

TEST(FftSizes, GoodLengthsFactorListsAndTheSetUpCheck) {
  struct TCase {
    int32_t n;
    bool even;
    int32_t good;
  };
  for (const TCase c : {TCase{37, false, 37}, {41, false, 42}, {41, true, 42}, {74, true, 74}, {82, true, 84},
                        {105, true, 108}, {1, false, 1}, {4096, true, 4096}, {4097, true, 4104}})
    EXPECT_EQ(NextGoodFftSize(c.n, c.even), c.good) << c.n << (c.even ? " even" : "");

  auto factors = [](int32_t n) {
    const TFftFactors f = FactorizeFftLength(n);
    return std::vector<int32_t>(f.Radix.begin(), f.Radix.begin() + f.Count);
  };
  EXPECT_EQ(factors(1000), (std::vector<int32_t>{10, 10, 10}));
  EXPECT_EQ(factors(16), (std::vector<int32_t>{4, 4}));
  EXPECT_EQ(factors(70), (std::vector<int32_t>{7, 10}));
  EXPECT_EQ(factors(4104), (std::vector<int32_t>{19, 3, 3, 3, 8}));
  EXPECT_EQ(factors(1), (std::vector<int32_t>{1}));

  EXPECT_EQ(MakeFftPlan(123), nullptr);  // 3 · 41
  EXPECT_EQ(FftPlanFor(82), nullptr);
  ASSERT_NE(MakeFftPlan(74), nullptr);
  EXPECT_EQ(FftPlanFor(1000), FftPlanFor(1000));  // made once and kept

  // The largest good length at or below n, and where its run of good lengths starts.
  const TGoodFftRun run = LargestGoodFftSize(83);  // 83 is prime, 82 = 2·41, 81 and 80 are good
  EXPECT_EQ(run.Largest, 81);
  EXPECT_EQ(run.RunStart, 80);  // 79 is prime
  EXPECT_EQ(NextPowerOfTwoOfSpan(10, 9), 1);
  EXPECT_EQ(NextPowerOfTwoOfSpan(0, 99), 128);
}

TEST(FftWorkspace, PowerOfTwoLengthTaperAndItsRebuild) {
  TPow2Workspace ws;
  ASSERT_TRUE(ws.Setup(100));
  EXPECT_EQ(ws.Length(), 128);
  ASSERT_EQ(ws.Taper().size(), 29u);
  EXPECT_NEAR(ws.Taper()[0], 0.5 + 0.5 * std::cos(0.5 * M_PI / 29), 1e-15);
  EXPECT_GT(ws.Taper()[0], 0.99);
  EXPECT_LT(ws.Taper()[28], 0.01);
  ASSERT_TRUE(ws.Setup(101));  // same N, another taper length
  EXPECT_EQ(ws.Length(), 128);
  EXPECT_EQ(ws.Taper().size(), 28u);

  TFftWorkspace mixed;
  ASSERT_TRUE(mixed.Setup(97, true));
  EXPECT_EQ(mixed.Length(), 98);
  EXPECT_EQ(mixed.Taper().size(), 2u);
  EXPECT_EQ(mixed.InRe().size(), 99u);

  // Forward and inverse of the power-of-two work arrays.
  ASSERT_TRUE(ws.Setup(8));
  for (int i = 0; i < 8; ++i) ws.Re()[size_t(i)] = i, ws.Im()[size_t(i)] = 0;
  ws.Transform(+1.0);
  EXPECT_NEAR(ws.Re()[0], 28.0, 1e-12);
  EXPECT_NEAR(ws.Im()[2], 4.0, 1e-12);  // Σ j·e^(−iπj/2) = −4 + 4i
  ws.Transform(-1.0);
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(ws.Re()[size_t(i)], 8.0 * i, 1e-12);
}

TEST(FftEngine, EveryGoodLengthUpTo300MatchesNumpy) {
  if (!test::HaveNumpy()) GTEST_SKIP() << "/usr/bin/python3 cannot import numpy";
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<int32_t> lengths;
  std::vector<double> in, lens;
  for (int32_t n = 1; n <= 300; ++n)
    if (IsGoodFftLength(n)) {
      lengths.push_back(n);
      lens.push_back(n);
      for (int32_t i = 0; i < 2 * n; ++i) in.push_back(u(rng));
    }
  test::NumpyOracle np;
  np.Put("in", in);
  np.Put("lens", lens);
  ASSERT_TRUE(np.Run(R"(
x = np.fromfile(d + 'in.f64'); out = []; o = 0
for n in np.fromfile(d + 'lens.f64').astype(int):
    z = x[o:o + 2 * n:2] + 1j * x[o + 1:o + 2 * n:2]; o += 2 * n
    f = np.fft.fft(z); out += [f.real, f.imag]
np.concatenate(out).tofile(d + 'out.f64'))"));
  const std::vector<double> ref = np.Get("out");
  ASSERT_EQ(ref.size(), in.size());
  size_t o = 0;
  for (const int32_t n : lengths) {
    const auto plan = FftPlanFor(n);
    ASSERT_NE(plan, nullptr) << n;
    const size_t count = size_t(n);
    std::vector<double> re(count), im(count), outRe(count), outIm(count);
    for (int32_t i = 0; i < n; ++i) re[size_t(i)] = in[o + 2 * size_t(i)], im[size_t(i)] = in[o + 2 * size_t(i) + 1];
    MixedRadixFft(*plan, re, im, outRe, outIm);
    double worst = 0;
    for (int32_t k = 0; k < n; ++k)
      worst = std::max({worst, std::abs(outRe[size_t(k)] - ref[o + size_t(k)]),
                        std::abs(outIm[size_t(k)] - ref[o + size_t(n + k)])});
    EXPECT_LT(worst, 1e-12) << "N = " << n;
    // Every lane count gives the same bits as the single sequence.
    for (const int lanes : {2, 4}) {
      TFftLaneBuffer buf(n, lanes);
      for (int32_t i = 0; i < n; ++i)
        for (int l = 0; l < lanes; ++l) {
          buf.Re()[size_t(plan->Permutation[size_t(i)]) * lanes + l] = re[size_t(i)];
          buf.Im()[size_t(plan->Permutation[size_t(i)]) * lanes + l] = im[size_t(i)];
        }
      RunFftPasses(*plan, buf.Re(), buf.Im(), lanes);
      for (int32_t k = 0; k < n; ++k)
        for (int l = 0; l < lanes; ++l)
          ASSERT_TRUE(buf.Re()[size_t(k) * lanes + l] == outRe[size_t(k)] &&
                      buf.Im()[size_t(k) * lanes + l] == outIm[size_t(k)])
              << "N = " << n << ", " << lanes << " lanes";
    }
    // The real transform and the Hermitian completion agree with the complex one.
    MixedRadixRealFft(*plan, re, outRe, outIm);
    std::vector<double> cr(outRe), ci(outIm);
    HermitianComplete(n, cr, ci);
    for (int32_t k = 1; k <= n / 2; ++k) {
      EXPECT_NEAR(cr[size_t(n - k)], outRe[size_t(n - k)], 1e-12);
      EXPECT_NEAR(ci[size_t(n - k)], outIm[size_t(n - k)], 1e-12);
    }
    o += 2 * size_t(n);
  }
}

}  // namespace
}  // namespace astrelon
