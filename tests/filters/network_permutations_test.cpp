// Turned training samples: the targets turned and the outputs turned back
// give the block again; the input vector of a turned image (numpy's rot90,
// fliplr, flipud) is the permuted vector of the original, for 37 and 61
// inputs.
#include "filters/training/network_permutations.h"

#include <algorithm>
#include <random>

#include "../frequency/numpy_oracle.h"
#include "filter_images.h"
#include "filters/network/network_inputs.h"

namespace astrelon::test {
namespace {

TEST(NetworkPermutations, TargetsAndOutputsTurnBack) {
  const std::array<float, 4> block{1, 2, 3, 4};
  for (int rotation = 0; rotation < 4; ++rotation)
    for (int mirror = 0; mirror < 3; ++mirror) {
      std::array<float, 4> t = block;
      PermuteTargets(rotation, mirror, t);
      if (rotation + mirror > 0) {
        EXPECT_NE(t, block) << rotation << " " << mirror;
      }
      UnpermuteOutputs(rotation, mirror, t);
      EXPECT_EQ(t, block) << rotation << " " << mirror;
    }
  std::array<float, 4> t = block;
  PermuteTargets(1, 0, t);
  EXPECT_EQ(t, (std::array<float, 4>{3, 1, 4, 2}));
  for (int k = 0; k < 3; ++k) PermuteTargets(1, 0, t);
  EXPECT_EQ(t, block);
  // Inputs: four quarter turns give the vector back.
  std::array<float, 64> x{};
  for (size_t i = 0; i < 61; ++i) x[i] = float(i);
  const std::array<float, 64> start = x;
  for (int k = 0; k < 4; ++k) PermuteNetworkInputs(60, 1, 0, x.data());
  EXPECT_EQ(x, start);
  PermuteNetworkInputs(60, 3, 0, x.data());
  PermuteNetworkInputs(60, 1, 0, x.data());
  EXPECT_EQ(x, start);
}

// The image turned as numpy turns it: the pixel's inputs there are the
// permuted inputs here (rotation r is numpy's rot90 with k = -r, clockwise on
// screen; mirror 1 is fliplr, mirror 2 flipud).
using NetworkPermutationsTest = KernelTest;

TEST_F(NetworkPermutationsTest, InputsOfATurnedImage) {
  if (!HaveNumpy()) GTEST_SKIP() << "numpy missing";
  const int w = 23, h = 19;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(0, 100);
  std::vector<double> image(size_t(w) * h), index(size_t(w) * h);
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = std::round(u(rng));
    index[i] = double(i);
  }
  NumpyOracle numpy;
  numpy.Put("a", image);
  numpy.Put("i", index);
  std::string script = "a = np.fromfile(d + 'a.f64').reshape(" + std::to_string(h) + ", " + std::to_string(w) +
                       ")\ni = np.fromfile(d + 'i.f64').reshape(a.shape)\n";
  script +=
      "ops = [lambda m, r=r: np.rot90(m, -r) for r in range(4)] + [np.fliplr, np.flipud]\n"
      "for k, op in enumerate(ops):\n"
      "    b = op(a)\n"
      "    np.array(b.shape, dtype=np.float64).tofile(d + 'shape%d.f64' % k)\n"
      "    b.tofile(d + 'b%d.f64' % k)\n"
      "    op(i).tofile(d + 'i%d.f64' % k)\n";
  ASSERT_TRUE(numpy.Run(script));
  for (const int32_t N : {36, 60}) {
    for (int k = 0; k < 6; ++k) {
      const std::vector<double> shape = numpy.Get("shape" + std::to_string(k));
      const std::vector<double> turned = numpy.Get("b" + std::to_string(k));
      const std::vector<double> where = numpy.Get("i" + std::to_string(k));
      const int tw = int(shape[1]), th = int(shape[0]);
      MakeGrey(1, w, h, [&](int x, int y) { return float(image[size_t(y) * w + size_t(x)]); });
      MakeGrey(2, tw, th, [&](int x, int y) { return float(turned[size_t(y) * tw + size_t(x)]); });
      // The original's pixel (11, 9) in the turned image.
      const size_t at = size_t(std::find(where.begin(), where.end(), double(9 * w + 11)) - where.begin());
      const int bx = int(at % size_t(tw)), by = int(at / size_t(tw));
      TNetworkPass original, expected;
      EvalNetworkAt(Store.Image[1], 1, 11, 9, N, 0.0, 1.0, false, 0.0f, original);
      EvalNetworkAt(Store.Image[2], 1, bx, by, N, 0.0, 1.0, false, 0.0f, expected);
      PermuteNetworkInputs(N, k < 4 ? k : 0, k < 4 ? 0 : k - 3, original.X.data());
      for (int32_t i = 0; i <= N; ++i)
        EXPECT_EQ(original.X[size_t(i)], expected.X[size_t(i)]) << N << " " << k << " " << i;
    }
  }
}

}  // namespace
}  // namespace astrelon::test
