// The vector lanes round as std::nearbyint does on the values the Kimmel counts
// and powers take (not negative, or NaN): halves to even, whole numbers and
// values from 2^52 on unchanged.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/mosaic/site_lanes.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b)); }

TEST(RoundHalfEvenLanes, LanesGiveTheSingleValues) {
  const double big = 4503599627370496.0;  // 2^52
  const std::vector<double> values{0.0,       0.49999999999999994, 0.5,       1.5,      2.5,
                                   3.5,       2.4999999999999996,  11.5,      12.0,     1e-300,
                                   big - 0.5, big - 1.5,           big,       big + 2,  1e300,
                                   std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN(),
                                   7.0000000000000009};
  for (size_t i = 0; i < values.size(); ++i) {
    simd::TVec4d lanes;
    for (int l = 0; l < 4; ++l) lanes[l] = values[(i + size_t(l)) % values.size()];
    const simd::TVec4d got = simd::RoundHalfEven(lanes);
    for (int l = 0; l < 4; ++l) {
      const double want = std::nearbyint(lanes[l]);
      EXPECT_TRUE(Same(got[l], want)) << lanes[l] << " gave " << got[l];
      EXPECT_TRUE(Same(simd::RoundHalfEven(lanes[l]), want)) << lanes[l];
    }
  }
}

}  // namespace
}  // namespace astrelon::test
