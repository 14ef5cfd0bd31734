#include "kernels/network/neuro_interpolation.h"

#include <gtest/gtest.h>

#include "kernels/network/neural_tables.h"

namespace astrelon {
namespace {

class NeuroInterpolation : public ::testing::Test {
protected:
  void SetUp() override { BuildTanhTable(); }
  static std::array<float, NeuroInputCount> Inputs(float value, float fx, float fy) {
    std::array<float, NeuroInputCount> p;
    p.fill(value);
    p[16] = fx;
    p[17] = fy;
    return p;
  }
};

TEST_F(NeuroInterpolation, FlatNeighbourhoodGivesTheBilinearValue) {
  EXPECT_EQ(InterpolateNeuro(Inputs(42.5f, 0.3f, 0.8f)), 42.5f);
  auto p = Inputs(7.0f, 0.5f, 0.5f);
  p[0] = p[3] = p[12] = -1e11f;  // blank corners do not count
  EXPECT_EQ(InterpolateNeuro(p), 7.0f);
}

TEST_F(NeuroInterpolation, TooLittleBilinearWeightIsBlank) {
  auto p = Inputs(-1e11f, 0.95f, 0.95f);
  p[5] = 10.0f;  // weight 0.05 * 0.05
  EXPECT_EQ(InterpolateNeuro(p), -1e11f);
  p[10] = 20.0f;  // the opposite corner carries weight 0.9025
  EXPECT_GT(InterpolateNeuro(p), -1e9f);
}

TEST_F(NeuroInterpolation, CorrectionStaysNearTheBaseOnSmoothData) {
  // A plane a + b x + c y: the network's correction is a small part of the spread.
  std::array<float, NeuroInputCount> p;
  for (int j = 0; j < 4; ++j)
    for (int i = 0; i < 4; ++i) p[size_t(j * 4 + i)] = 100.0f + 3.0f * float(i) + 2.0f * float(j);
  p[16] = 0.25f;
  p[17] = 0.5f;
  const float base = 100.0f + 3.0f * 1.25f + 2.0f * 1.5f;
  EXPECT_NEAR(InterpolateNeuro(p), base, 1.0f);
}

TEST_F(NeuroInterpolation, FixedPointNeuronsSaturate) {
  std::array<int32_t, NeuroInputCount> q{};
  q[5] = 16384;
  const auto h = ForwardFixedPoint(q);
  EXPECT_EQ(h[6], 13501);   // 27504 * 16384 lies above 32768000
  EXPECT_EQ(h[5], -13501);  // -14132 * 16384 below -32768000
  EXPECT_EQ(h[0], -TanhTableFixed[338]);  // -338 * 16384 / 16384
  q[5] = 1000;
  EXPECT_EQ(ForwardFixedPoint(q)[6], TanhTableFixed[27504000 >> 14]);
}

}  // namespace
}  // namespace astrelon
