#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "store/planes/plane_routines.h"

namespace astrelon {
namespace {

TEST(BrightestPixel, SpiralRingKeepsTheFirstOfEqualWindowsInWalkingOrder) {
  // Ring 1 around the centre (4,4) walks (3,3) right to (5,3), down to (5,5),
  // left to (3,5) and up to (3,4): of the two equal bright pixels (5,5) comes first.
  const int w = 9, h = 9;
  std::vector<float> d(size_t(w * h), 10.0f);
  d[size_t(5 * w + 5)] = 50.0f;
  d[size_t(4 * w + 3)] = 50.0f;
  int32_t x, y;
  float v;
  FindBrightestPixel(d, w, h, w, 0, x, y, v, true);
  EXPECT_EQ(x, 5);
  EXPECT_EQ(y, 5);
  EXPECT_EQ(v, 50.0f);
  // The exhaustive search takes the first in reading order instead.
  FindBrightestPixel(d, w, h, w, 0, x, y, v, false);
  EXPECT_EQ(x, 3);
  EXPECT_EQ(y, 4);
}

TEST(BrightestPixel, RadiusBeyondEveryWindowKeepsTheCentre) {
  // A flat rectangle lower than wide lets the rings reach rows above it.
  std::vector<float> d(20 * 2, 3.0f);
  for (bool spiral : {false, true}) {
    int32_t x = -1, y = -1;
    float v = 0;
    FindBrightestPixel(d, 20, 2, 20, std::numeric_limits<int32_t>::max(), x, y, v, spiral);
    EXPECT_EQ(x, 10);
    EXPECT_EQ(y, 1);
    EXPECT_EQ(v, -1e9f);
  }
}

}  // namespace
}  // namespace astrelon
