// The vector loop of the normalisation of a weighted accumulation against its
// scalar twin.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "batch/accumulate/drizzle_row.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon::test {
namespace {

TEST(DrizzleRowTest, VectorLoopGivesTheScalarBits) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  constexpr int32_t w = 61, h = 9;
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(0, 1);
  const size_t n = size_t(w) * h;
  std::vector<float> sum(n), weight(n), guide(n);
  for (size_t i = 0; i < n; ++i) {
    // Weights with shortfalls and zeros, blank guides, and sums that overflow the
    // products (the fallback sums) in places.
    weight[i] = unit(rng) < 0.1 ? 0.0f : float(unit(rng) * 2);
    sum[i] = float((unit(rng) * 1000 + 100) * weight[i]);
    if (unit(rng) < 0.02) sum[i] = 3e38f;
    guide[i] = unit(rng) < 0.08 ? BlankPixel : weight[i] > 0 ? sum[i] / weight[i] : BlankPixel;
    if (unit(rng) < 0.01) guide[i] = 1e30f;
  }
  for (const bool diagonal : {false, true})
    for (const double noise : {1e-6, 25.0}) {
      std::vector<float> a(n, 0), b(n, 0);
      TDrizzleRow row;
      row.Sum = sum.data();
      row.Weight = weight.data();
      row.Guide = guide.data();
      row.Width = w;
      row.Noise = noise;
      row.Diagonal = diagonal;
      row.Scale = diagonal ? 3.5f : 1.0f;
      const bool saved = Avx2Enabled;
      Avx2Enabled = true;
      for (int32_t y = 1; y < h - 1; ++y) {
        row.Out = a.data();
        NormaliseDrizzleRow(row, y, 1, w - 1, false);
        row.Out = b.data();
        NormaliseDrizzleRow(row, y, 1, w - 1, true);
      }
      Avx2Enabled = saved;
      EXPECT_EQ(std::memcmp(a.data(), b.data(), n * sizeof(float)), 0) << diagonal << " " << noise;
      EXPECT_NE(a, std::vector<float>(n, 0));
    }
}

}  // namespace
}  // namespace astrelon::test
