// The five-by-five neighbour sharpening against scipy's correlation, its
// blanks and frame, and the same bits from every split into bands and chunks
// and from the vector loop.
#include "filters/enlargement/sharpen_neighbours3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "../filters/filter_images.h"
#include "../filters/scipy_oracle.h"
#include "platform/simd_support.h"

namespace astrelon::test {
namespace {

class SharpenNeighbours3Test : public KernelTest {};

constexpr TNeighbourWeights Weights{-0.03f, 0.02f, -0.013f, -0.007f};

std::vector<float> Random(int w, int h, int blankEvery, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(0, 1000);
  std::vector<float> v(size_t(w) * size_t(h));
  for (float& x : v) x = blankEvery > 0 && rng() % uint32_t(blankEvery) == 0 ? BlankPixel : u(rng);
  return v;
}

// The rule written out pixel by pixel on the old values, summing each kind
// through the same column pairs.
std::vector<float> Reference(const std::vector<float>& in, int w, int h, const TNeighbourWeights& k) {
  std::vector<float> out = in;
  auto m = [&](int x, int y) { return IsValidPixel(in[size_t(y * w + x)]) ? in[size_t(y * w + x)] : 0.0f; };
  auto n = [&](int x, int y) { return IsValidPixel(in[size_t(y * w + x)]) ? 1.0f : 0.0f; };
  struct Sums {
    float D, G, S, K;
  };
  auto sums = [](auto v, int x, int y) {
    auto A = [&](int i) { return v(i, y - 1) + v(i, y + 1); };
    auto B = [&](int i) { return v(i, y - 2) + v(i, y + 2); };
    auto C = [&](int i) { return v(i, y); };
    return Sums{A(x) + (C(x - 1) + C(x + 1)), A(x - 1) + A(x + 1), B(x) + (C(x - 2) + C(x + 2)),
                (B(x - 1) + B(x + 1)) + (A(x - 2) + A(x + 2))};
  };
  for (int y = 2; y < h - 2; ++y)
    for (int x = 2; x < w - 2; ++x) {
      const float c = in[size_t(y * w + x)];
      if (!IsValidPixel(c)) continue;
      const Sums g = sums(m, x, y), q = sums(n, x, y);
      const float lift = k.Direct * (g.D - q.D * c) + k.Diagonal * (g.G - q.G * c) + k.Straight2 * (g.S - q.S * c) +
                         k.Knight * (g.K - q.K * c);
      const float weight = 1.0f + k.Direct * q.D + k.Diagonal * q.G + k.Straight2 * q.S + k.Knight * q.K;
      if (weight > 0) out[size_t(y * w + x)] = c + lift * (1.0f / weight);
    }
  return out;
}

TEST_F(SharpenNeighbours3Test, MatchesScipyCorrelationInsideTheFrame) {
  if (!HaveScipy()) GTEST_SKIP() << "python3-scipy missing";
  const int w = 23, h = 17;
  std::vector<float> plane = Random(w, h, 0, 3);
  const std::vector<float> before = plane;
  SharpenNeighbours3Plane(plane, w, h, Weights, true);
  const std::vector<float> scipy = ScipyPlane(before, w, h,
                                              "k = np.zeros((5, 5))\n"
                                              "k[2, 2] = 1\n"
                                              "k[1, 2] = k[3, 2] = k[2, 1] = k[2, 3] = -0.03\n"
                                              "k[1, 1] = k[1, 3] = k[3, 1] = k[3, 3] = 0.02\n"
                                              "k[0, 2] = k[4, 2] = k[2, 0] = k[2, 4] = -0.013\n"
                                              "k[0, 1] = k[0, 3] = k[4, 1] = k[4, 3] = -0.007\n"
                                              "k[1, 0] = k[3, 0] = k[1, 4] = k[3, 4] = -0.007\n"
                                              "out = ndimage.correlate(a, k / k.sum())\n");
  ASSERT_EQ(scipy.size(), plane.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const size_t i = size_t(y * w + x);
      if (x < 2 || y < 2 || x >= w - 2 || y >= h - 2)
        EXPECT_EQ(plane[i], before[i]);
      else
        EXPECT_NEAR(plane[i], scipy[i], 2e-3) << x << " " << y;
    }
}

TEST_F(SharpenNeighbours3Test, UniformStaysBlanksStay) {
  std::vector<float> flat(size_t(20 * 20), 42.0f);
  flat[size_t(7 * 20 + 7)] = BlankPixel;
  SharpenNeighbours3Plane(flat, 20, 20, Weights, true);
  for (size_t i = 0; i < flat.size(); ++i) EXPECT_EQ(flat[i], i == 7 * 20 + 7 ? BlankPixel : 42.0f) << i;
  // Zero weights leave every value as it was.
  std::vector<float> noisy = Random(30, 12, 7, 1);
  const std::vector<float> before = noisy;
  SharpenNeighbours3Plane(noisy, 30, 12, {}, true);
  EXPECT_EQ(noisy, before);
}

// Large enough for several chunks on one thread and several bands on all
// cores; with blanks for the masked loops. Every path gives the reference's bits.
TEST_F(SharpenNeighbours3Test, EverySplitAndPathGivesTheSameBits) {
  const int w = 1210, h = 1900;
  const std::vector<float> source = Random(w, h, 5000, 9);
  const std::vector<float> expected = Reference(source, w, h, Weights);
  for (int multicore : {0, 1})
    for (bool vector : {false, true}) {
      Options.Multicore = uint8_t(multicore);
      std::vector<float> plane = source;
      SharpenNeighbours3Plane(plane, w, h, Weights, vector);
      ASSERT_EQ(plane.size(), expected.size());
      size_t differ = 0;
      for (size_t i = 0; i < plane.size(); ++i)
        differ += std::bit_cast<uint32_t>(plane[i]) != std::bit_cast<uint32_t>(expected[i]);
      EXPECT_EQ(differ, 0u) << multicore << " " << vector;
    }
}

}  // namespace
}  // namespace astrelon::test
