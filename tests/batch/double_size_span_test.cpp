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

// A run over a frame of fw x fh values into the given sums and weights.
TDoubleSizeSpan SpanOver(const std::vector<float>& frame, int32_t fw, int32_t fh, double shift, std::vector<float>& sum,
                         std::vector<float>& weight) {
  TDoubleSizeSpan span;
  span.Frame = frame.data();
  span.FrameWidth = fw;
  span.FramePixels = int64_t(frame.size());
  span.XLimit = fw - 1.61;
  span.YLimit = fh - 1.61;
  span.Shift = shift;
  span.Sum = sum.data();
  span.Weight = weight.data();
  return span;
}

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
    TDoubleSizeSpan span = SpanOver(frame, fw, fh, -12.25, s, w);
    span.FrameWeight = 0.6;  // a frame counting less
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

// A run on a line, with and without the vector loop, against the same
// positions listed.
TEST(DoubleSizeSpanTest, LinearRunsGiveTheListedBits) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  constexpr int32_t fw = 40, fh = 30, n = 90, first = 3;
  std::vector<float> frame(size_t(fw) * fh);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = i % 17 == 0 ? BlankPixel : float((i * 7919) % 1000);
  const double baseX = -1.3, baseY = 4.7, stepX = 0.4996, stepY = 0.0042;
  std::vector<double> xs(n), ys(n);
  for (int32_t k = 0; k < n; ++k) {
    xs[k] = baseX + stepX * (first + k);
    ys[k] = baseY + stepY * (first + k);
  }
  std::vector<std::vector<float>> sums, weights;
  const bool saved = Avx2Enabled;
  Avx2Enabled = true;
  for (int variant = 0; variant < 3; ++variant) {
    std::vector<float> s(n, 5.0f), w(n, 0.0f);
    for (int32_t k = 0; k < n; k += 3) w[size_t(k)] = 1.5f;
    TDoubleSizeSpan span = SpanOver(frame, fw, fh, 3.0, s, w);
    span.Linear = variant > 0;
    span.BaseX = baseX;
    span.BaseY = baseY;
    span.StepX = stepX;
    span.StepY = stepY;
    span.First = first;
    AddDoubleSizeSpan(span, xs.data(), ys.data(), n, variant == 2);
    sums.push_back(s);
    weights.push_back(w);
  }
  Avx2Enabled = saved;
  for (size_t v : {1, 2}) {
    EXPECT_EQ(std::memcmp(sums[0].data(), sums[v].data(), n * sizeof(float)), 0) << v;
    EXPECT_EQ(std::memcmp(weights[0].data(), weights[v].data(), n * sizeof(float)), 0) << v;
  }
}

}  // namespace
}  // namespace astrelon::test
