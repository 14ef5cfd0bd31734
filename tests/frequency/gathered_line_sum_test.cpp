// The gathered line sum: the values of the digital line walked step by step
// (the sideways share accumulated in integers), and exactness granted only
// when no order of adding could round.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "frequency/interference/gathered_line_sum.h"
#include "platform/simd_support.h"

namespace astrelon::test {
namespace {

TEST(GatheredLineSum, WalksTheLineAndGrantsOnlyExactSums) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  constexpr float Nan = std::numeric_limits<float>::quiet_NaN();
  constexpr float Inf = std::numeric_limits<float>::infinity();
  constexpr int32_t N = 100;
  const struct {
    uint32_t p, q;
    int32_t along, side, from, to;
    float first;  // the value at step `from`
    bool exact;
  } cases[] = {
      {0, 5, 1, N, 1, 30, 1, true},          {1, 7, 1, N, 1, 39, 1, true},          {3, 4, 1, N, 2, 33, 1, true},
      {5, 5, 1, N, 1, 9, 1, true},           {2, 9, -1, N, 1, 17, 1, true},         {7, 11, -1, -N, 3, 3, 1, true},
      {1, 3, 1, N, 1, 20, 0x1p28f, true},    {1, 3, 1, N, 1, 20, 0x1p31f, false},   {1, 3, 1, N, 1, 20, 0x1p-140f, false},
      {1, 3, 1, N, 1, 20, Nan, false},       {1, 3, 1, N, 1, 20, Inf, false},       {1, 3, 1, N, 1, 20, 0.0f, true},
  };
  for (const auto& t : cases) {
    // A grid of multiples of 1/8 in 1 .. 5; the line starts in its middle.
    std::vector<float> grid(size_t(N) * N);
    for (size_t k = 0; k < grid.size(); ++k) grid[k] = 1.0f + float((k * 37) % 33) / 8.0f;
    const int32_t start = N / 2 * N + N / 2;
    // The walk: P/Q a step added to a share that moves one place sideways
    // when it exceeds 1/2 (in units of 1/(2Q)).
    std::vector<int32_t> at;
    for (int32_t s = 1, m = 0, share = 0; s <= t.to; ++s) {
      share += int32_t(2 * t.p);
      if (share > int32_t(t.q)) {
        ++m;
        share -= int32_t(2 * t.q);
      }
      if (s >= t.from) at.push_back(start + s * t.along + m * t.side);
    }
    grid[size_t(at[0])] = t.first;
    double expected = 0;
    for (const int32_t k : at) expected += grid[size_t(k)];
    // In two stretches, as a line over two arrays is.
    const int32_t middle = (t.from + t.to) / 2;
    const float* base = grid.data() + start;
    const TLineStretch parts[2] = {{base, t.along, t.side, t.from, middle}, {base, t.along, t.side, middle + 1, t.to}};
    for (const int lanes : {8, 16}) {
      double sum = -1;
      EXPECT_EQ(GatheredLineSum(parts, t.p, t.q, sum, lanes), t.exact) << t.p << "/" << t.q << " " << t.first;
      if (t.exact) {
        EXPECT_EQ(sum, expected) << t.p << "/" << t.q << " in " << lanes << " lanes";
      }
    }
  }
}

}  // namespace
}  // namespace astrelon::test
