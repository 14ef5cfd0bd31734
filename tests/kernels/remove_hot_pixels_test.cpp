// Stray-pixel removal: spikes and dead pixels on flat and noisy backgrounds, the
// pixels it never touches, the strength factor, and the same pixels from the
// scalar and the eight-wide path and from one or several threads.
#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "kernels/regions/remove_hot_pixels.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class RemoveHotPixelsTest : public StoreTest {};

TEST_F(RemoveHotPixelsTest, SpikeAndDeadPixelOnAFlatBackground) {
  const int w = 12, h = 10;
  std::vector<float> v(size_t(w * h), 100.0f);
  v[size_t(3 * w + 4)] = 1000;  // hot
  v[size_t(6 * w + 8)] = 0;     // dead
  PutImage(1, w, h, {v});
  RemoveHotPixels(1, 0, w - 1, 0, h - 1, 3.0f);
  for (float x : Plane(1, 1)) EXPECT_EQ(x, 100.0f);
}

TEST_F(RemoveHotPixelsTest, BorderAndPixelsWithFewValidNeighboursStay) {
  const int w = 9, h = 9;
  std::vector<float> v(size_t(w * h), 100.0f);
  // Spikes on the outer rows and columns.
  for (int i : {0 * w + 4, 8 * w + 4, 4 * w + 0, 4 * w + 8, 0}) v[size_t(i)] = 5000;
  // A spike at (4, 4) with only three valid neighbours: the rest blank.
  for (int y = 3; y <= 5; ++y)
    for (int x = 3; x <= 5; ++x) v[size_t(y * w + x)] = BlankPixel;
  v[size_t(4 * w + 4)] = 5000;
  v[size_t(3 * w + 3)] = v[size_t(3 * w + 4)] = v[size_t(5 * w + 5)] = 100;
  PutImage(1, w, h, {v});
  RemoveHotPixels(1, -5, 50, -5, 50, 1.5f);
  EXPECT_EQ(Plane(1, 1), v);
}

TEST_F(RemoveHotPixelsTest, StrongFactorHalvesTheSpreadPart) {
  // Neighbours 110 at N, W, E, S and 90 on the diagonals: without one smallest
  // and one largest their mean is 100 and their spread 10; the cross offset is
  // 110 - 90 = 20. Normal strength keeps the centre within 120 +/- 20, strong
  // within 120 +/- 10; a replaced centre becomes 110 + 20.
  struct Case {
    float factor, centre, expect;
  };
  for (const Case& c : {Case{3.0f, 135, 135}, Case{3.0f, 141, 130}, Case{3.0f, 99, 130}, Case{1.5f, 129, 129},
                        Case{1.5f, 135, 130}}) {
    for (bool vector : {false, true}) {
      const int w = 20, h = 5;
      std::vector<float> v(size_t(w * h), 100.0f);
      for (int y = 1; y <= 3; ++y)
        for (int x = 9; x <= 11; ++x) v[size_t(y * w + x)] = (x + y) % 2 ? 110.0f : 90.0f;
      v[size_t(2 * w + 10)] = c.centre;
      RemoveHotPixelsPlane(v, w, h, 10, 10, 2, 2, c.factor, 0.0f, vector);
      EXPECT_EQ(v[size_t(2 * w + 10)], c.expect) << c.factor << " " << c.centre << " vector " << vector;
    }
  }
}

TEST_F(RemoveHotPixelsTest, SpikesOnNoiseEndNearTheBackground) {
  const int w = 200, h = 160;
  const float sigma = 10, background = 1000;
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(background, sigma);
  std::vector<float> v(size_t(w * h));
  for (float& x : v) x = noise(rng);
  std::vector<int> spikes;
  std::uniform_int_distribution<int> px(2, w - 3), py(2, h - 3);
  while (spikes.size() < 50) {
    const int i = py(rng) * w + px(rng);
    bool apart = true;
    for (int s : spikes) apart = apart && (std::abs(s % w - i % w) > 2 || std::abs(s / w - i / w) > 2);
    if (!apart) continue;
    spikes.push_back(i);
    v[size_t(i)] += 500;
  }
  PutImage(1, w, h, {v});
  RemoveHotPixels(1, 0, w - 1, 0, h - 1, 3.0f);
  const auto out = Plane(1, 1);
  for (int s : spikes) EXPECT_LT(std::fabs(out[size_t(s)] - background), 4 * sigma) << s % w << "," << s / w;
}

// Noisy planes with spikes, dead pixels, blank holes and scattered blanks.
std::vector<float> TestPlane(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(500, 20);
  std::vector<float> v(size_t(w) * h);
  for (float& x : v) {
    x = noise(rng);
    const unsigned r = rng() % 1000;
    if (r < 15) x += 800;
    else if (r < 20) x = 0;
    else if (r < 30) x = BlankPixel;
    else if (r < 32) x = std::numeric_limits<float>::quiet_NaN();
  }
  for (int y = h / 3; y < h / 3 + 5; ++y)
    for (int x = w / 2; x < w / 2 + 7; ++x) v[size_t(y * w + x)] = BlankPixel;
  return v;
}

TEST_F(RemoveHotPixelsTest, VectorPathsAndBandsGiveTheScalarPixels) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "no AVX2";
  struct Path {
    bool vector;
    int threads, lanes;
  };
  for (float factor : {3.0f, 1.5f, 1.0f}) {
    for (auto [w, h] : {std::pair{203, 97}, {18, 9}, {9, 40}, {77, 400}}) {
      const std::vector<float> before = TestPlane(w, h, unsigned(w * 31 + h));
      std::vector<float> a = before;
      RemoveHotPixelsPlane(a, w, h, 1, w - 2, 1, h - 2, factor, 12.0f, false);
      EXPECT_NE(a, before);  // something was replaced
      for (const Path& p : {Path{true, 1, 16}, Path{true, 1, 8}, Path{true, 5, 16}, Path{false, 3, 1}}) {
        std::vector<float> b = before;
        RemoveHotPixelsPlane(b, w, h, 1, w - 2, 1, h - 2, factor, 12.0f, p.vector, p.threads, p.lanes);
        EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0)
            << factor << " " << w << "x" << h << " lanes " << p.lanes << " threads " << p.threads;
      }
    }
  }
}

TEST_F(RemoveHotPixelsTest, SelectedChannelsOnOneOrSeveralThreads) {
  const int w = 150, h = 120;
  std::array<std::vector<float>, 2> result;
  for (int multi = 0; multi < 2; ++multi) {
    MulticoreGuard guard(multi == 1);
    PutImage(1, w, h, {TestPlane(w, h, 1), TestPlane(w, h, 2), TestPlane(w, h, 3)});
    Store.Display[1].ChannelSelection = 4;  // R and B
    RemoveHotPixels(1, 0, w - 1, 0, h - 1, 3.0f);
    const auto green = Plane(1, 2), before = TestPlane(w, h, 2);
    EXPECT_EQ(std::memcmp(green.data(), before.data(), green.size() * sizeof(float)), 0);
    for (int p = 1; p <= 3; ++p) {
      const auto v = Plane(1, p);
      result[size_t(multi)].insert(result[size_t(multi)].end(), v.begin(), v.end());
    }
  }
  EXPECT_EQ(std::memcmp(result[0].data(), result[1].data(), result[0].size() * sizeof(float)), 0);
}

}  // namespace
}  // namespace astrelon::test
