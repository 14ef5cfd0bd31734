// The vector loop of the double-size accumulation against its scalar twin.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "batch/accumulate/double_size_span.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon::test {
namespace {

TEST(DoubleSizeSpanTest, VectorLoopGivesTheScalarBits) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  constexpr int32_t fw = 37, fh = 23, n = 1003;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<float> frame(size_t(fw) * fh);
  for (float& v : frame) v = unit(rng) < 0.1 ? BlankPixel : float(unit(rng) * 2000 - 300);
  // Positions inside, on whole and half pixels, at and beyond the limits, and NaN.
  std::vector<double> xs(n), ys(n);
  const double special[] = {0, 0.4, 0.6, 0.5, fw - 1.61, fw - 1.62, -1e-9, std::nan("")};
  // The second half steps along rows as a slightly turned target row does,
  // crossing frame rows and the frame's edges.
  for (int32_t k = 0; k < n; ++k) {
    if (k >= n / 2) {
      xs[k] = std::fmod(0.37 + 0.49 * k, fw + 1.0) - 0.5;
      ys[k] = std::fmod(0.013 * k, fh + 1.0) - 0.5;
      continue;
    }
    const double r = unit(rng);
    xs[k] = r < 0.2 ? special[k % 8] : r < 0.3 ? std::floor(unit(rng) * fw * 2) / 2 : unit(rng) * (fw + 2) - 1;
    ys[k] = r > 0.9 ? special[(k / 8) % 7] * fh / fw : unit(rng) * (fh + 2) - 1;
  }
  std::vector<float> sum(n), weight(n);
  for (int32_t k = 0; k < n; ++k) {
    sum[k] = float(unit(rng) * 500);
    weight[k] = unit(rng) < 0.3 ? (unit(rng) < 0.5 ? 0.0f : -0.5f) : float(unit(rng) * 3);
  }
  auto run = [&](bool vector, std::vector<float>& s, std::vector<float>& w) {
    s = sum;
    w = weight;
    TDoubleSizeSpan span;
    span.Frame = frame.data();
    span.FrameWidth = fw;
    span.FramePixels = int64_t(frame.size());
    span.XLimit = fw - 1.61;
    span.YLimit = fh - 1.61;
    span.Shift = -12.25;
    span.Sum = s.data();
    span.Weight = w.data();
    AddDoubleSizeSpan(span, xs.data(), ys.data(), n, vector);
  };
  const bool saved = Avx2Enabled;
  Avx2Enabled = true;
  std::vector<float> s1, w1, s2, w2;
  run(false, s1, w1);
  run(true, s2, w2);
  Avx2Enabled = saved;
  EXPECT_NE(s1, sum);  // the run changed something
  EXPECT_EQ(std::memcmp(s1.data(), s2.data(), n * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(w1.data(), w2.data(), n * sizeof(float)), 0);
}

}  // namespace
}  // namespace astrelon::test
