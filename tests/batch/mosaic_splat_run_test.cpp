// The vector loop that places a frame row's pixels in the colour-mosaic
// accumulation against its scalar twin.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "batch/accumulate/mosaic_splat_run.h"
#include "platform/simd_support.h"
#include "store/image_slot.h"

namespace astrelon::test {
namespace {

TEST(MosaicSplatRunTest, VectorLoopGivesTheScalarBits) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  constexpr int32_t n = 203;
  std::mt19937 rng(9);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<float> values(n);
  for (float& v : values) v = unit(rng) < 0.1 ? BlankPixel : float(unit(rng) * 4000);
  // Rows that run out of the target on both sides, turned so that they cross
  // target rows and the band's edges; either colour without a plane.
  struct Case {
    double c0, y0, stepX, stepY;
    bool used0, used1;
  } cases[] = {{-3.7, 9.6, 0.999, 0.02, true, true},
               {40.2, 9.1, -0.98, 0.05, true, false},
               {0.0, 11.999, 1.0, -0.001, false, true}};
  const bool saved = Avx2Enabled;
  Avx2Enabled = true;
  for (const Case& c : cases) {
    TSplatRow row;
    row.Values = values.data();
    row.C0 = c.c0;
    row.Y0 = c.y0;
    row.StepX = c.stepX;
    row.StepY = c.stepY;
    row.XLimit = 150 - 1.1;
    row.YLimit = 20 - 1.1;
    row.Used[0] = c.used0;
    row.Used[1] = c.used1;
    row.R0 = 10;
    row.R1 = 13;
    row.TargetWidth = 150;
    row.Shift = -31.5f;
    row.Weight = &c == cases ? 1.0f : 0.7f;  // frames counting fully and less
    auto scalar = std::make_unique<TSplatRun>(), vector = std::make_unique<TSplatRun>();
    int taken = 0;
    for (int32_t first = 0; first < n; first += 100) {
      const int32_t count = std::min(100, n - first);
      PrepareSplatRun(row, first, count, *scalar, false);
      PrepareSplatRun(row, first, count, *vector, true);
      for (int32_t k = 0; k < count; ++k) {
        ASSERT_EQ(scalar->At[k], vector->At[k]) << first + k;
        if (scalar->At[k] < 0) continue;
        ++taken;
        EXPECT_EQ(scalar->Iy[k], vector->Iy[k]);
        for (const auto member : {&TSplatRun::Top, &TSplatRun::TopWeight, &TSplatRun::Bottom, &TSplatRun::BottomWeight})
          EXPECT_EQ(std::memcmp((*scalar).*member + 2 * k, (*vector).*member + 2 * k, 2 * sizeof(float)), 0);
      }
    }
    EXPECT_GT(taken, 10);
  }
  Avx2Enabled = saved;
}

}  // namespace
}  // namespace astrelon::test
