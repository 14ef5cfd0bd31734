#include "store/plane_routines.h"

#include <vector>

#include <gtest/gtest.h>

#include "store/image_slot.h"

namespace astrelon {
namespace {

class PlaneRoutines : public ::testing::TestWithParam<bool> {};

TEST_P(PlaneRoutines, RectMinMaxClampsHugeValuesAndSkipsBlanks) {
  std::vector<float> d{1, 3e19f, BlankPixel, -2, 5, 7};
  float mn, mx;
  RectMinMax(d, 3, 2, 3, mn, mx, GetParam());
  EXPECT_EQ(mn, -2.0f);
  EXPECT_EQ(mx, 1e18f);
  EXPECT_EQ(d[1], 1e18f);
}

TEST_P(PlaneRoutines, RectSumCountsValidPixels) {
  std::vector<float> d{1, 2, BlankPixel, 4, 100, 100};
  double sum;
  int64_t count;
  RectSum(d, 2, 2, 3, sum, count, GetParam());
  EXPECT_EQ(sum, 1 + 2 + 4 + 100);
  EXPECT_EQ(count, 4);
}

INSTANTIATE_TEST_SUITE_P(ScalarAndVector, PlaneRoutines, ::testing::Bool());

}  // namespace
}  // namespace astrelon
