// Noise fields in blocks: the eight-lane path and its scalar twin give the
// same bits, any stretch equals that part of the whole field, the polynomial
// logarithm and quarter-turn sine and cosine stay close to the library's, and
// the Gaussian values are normal (moments and the share within 1 and 2 sigma).
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "kernels/gauss/box_muller.h"
#include "kernels/gauss/gauss_table.h"
#include "kernels/gauss/noise_blocks.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

namespace astrelon::test {
namespace {

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(NoiseBlocks, VectorAndScalarPathsAndStretchesAgree) {
  DetectCpuFeatures();
  const int64_t n = 5 * NoiseBlockValues + 1234;
  for (const bool gauss : {true, false}) {
    std::vector<float> scalar(static_cast<size_t>(n)), vector(static_cast<size_t>(n));
    DrawNoise(77, gauss, 3.5, 0, scalar, false);
    DrawNoise(77, gauss, 3.5, 0, vector, true);
    if (CpuHasAvx2()) {
      EXPECT_TRUE(SameBits(scalar, vector)) << gauss;
    }
    // Stretches that start and end inside blocks.
    for (const auto& [first, count] : {std::pair<int64_t, int64_t>{3, 10}, {4090, 20}, {5000, 9000}, {n - 7, 7}}) {
      std::vector<float> part(static_cast<size_t>(count));
      DrawNoise(77, gauss, 3.5, first, part, true);
      EXPECT_TRUE(SameBits(part, std::vector<float>(scalar.begin() + first, scalar.begin() + first + count)))
          << gauss << " " << first;
    }
    std::vector<float> other(static_cast<size_t>(n));
    DrawNoise(78, gauss, 3.5, 0, other, true);
    EXPECT_FALSE(SameBits(other, scalar));
  }
}

TEST(NoiseBlocks, PolynomialsFollowTheLibrary) {
  double worstLog = 0, worstTrig = 0;
  for (int k = 1; k <= 1 << 16; ++k) {
    const float u = float(k) / float(1 << 16) * (k % 2 ? 1.0f : 0.37f);
    worstLog = std::max(worstLog, std::fabs(boxmuller::Log(u) - std::log(double(u))) / std::max(1.0, -std::log(double(u))));
    float c = 0, s = 0;
    boxmuller::CosSinTurn(u, c, s);
    const double a = 2 * std::numbers::pi * double(u);
    worstTrig = std::max({worstTrig, std::fabs(c - std::cos(a)), std::fabs(s - std::sin(a))});
  }
  EXPECT_LT(worstLog, 1e-6);
  EXPECT_LT(worstTrig, 1e-6);
}

TEST(NoiseBlocks, GaussianValuesAreNormal) {
  const int64_t n = 64 * NoiseBlockValues;
  std::vector<float> v(static_cast<size_t>(n));
  DrawNoise(5, true, 1.0, 0, v, true);
  double sum = 0, squares = 0, fourth = 0;
  int64_t within1 = 0, within2 = 0;
  for (float x : v) {
    sum += x;
    squares += double(x) * x;
    fourth += double(x) * x * x * x;
    within1 += std::fabs(x) < 1;
    within2 += std::fabs(x) < 2;
  }
  EXPECT_NEAR(sum / double(n), 0.0, 0.01);
  EXPECT_NEAR(squares / double(n), 1.0, 0.02);
  EXPECT_NEAR(fourth / double(n), 3.0, 0.15);  // kurtosis of the normal distribution
  EXPECT_NEAR(double(within1) / double(n), 0.6827, 0.005);
  EXPECT_NEAR(double(within2) / double(n), 0.9545, 0.003);

  // The table of the shift test's sweeps is normal too.
  TNoiseRandom random(9);
  TGaussTable table;
  double tableSum = 0, tableSquares = 0;
  for (int k = 0; k < 50; ++k) {
    FillGaussTable(table, random);
    for (float x : table) {
      tableSum += x;
      tableSquares += double(x) * x;
    }
  }
  EXPECT_NEAR(tableSum / (50.0 * GaussTableSize), 0.0, 0.02);
  EXPECT_NEAR(tableSquares / (50.0 * GaussTableSize), 1.0, 0.03);
}

TEST(NoiseBlocks, UniformValuesFillTheirRange) {
  const int64_t n = 16 * NoiseBlockValues;
  std::vector<float> v(static_cast<size_t>(n));
  DrawNoise(11, false, 2.0, 0, v, true);
  const double half = 2.0 * std::sqrt(3.0);  // amount · √12 / 2
  double sum = 0, squares = 0, low = 0, high = 0;
  for (float x : v) {
    sum += x;
    squares += double(x) * x;
    low = std::min(low, double(x));
    high = std::max(high, double(x));
  }
  EXPECT_NEAR(sum / double(n), 0.0, 0.02);
  EXPECT_NEAR(std::sqrt(squares / double(n)), 2.0, 0.02);
  EXPECT_GE(low, -half - 1e-5);
  EXPECT_LE(high, half + 1e-5);
  EXPECT_LT(low, -0.99 * half);
  EXPECT_GT(high, 0.99 * half);
}

}  // namespace
}  // namespace astrelon::test
