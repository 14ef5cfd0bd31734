// Multiplying by a second image and combining a luminance image with colour.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "kernels/colour/color_to_mono.h"
#include "pixelops/colour/lrgb_combination.h"
#include "pixelops/pixels/multiply_by_image.h"
#include "platform/processor_features.h"
#include "slot_images.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

using ImageMultiplyTest = StoreTest;
using LrgbTest = StoreTest;

TEST_F(ImageMultiplyTest, ScaleBlankAndSizeRules) {
  // The second image's mean is below 0.1: with the scale it counts as 0.1, s = 10.
  struct Case {
    bool scale;
    float expected;
  };
  for (const Case c : {Case{true, 60.0f}, Case{false, 6.0f}}) {
    PutImage(1, 3, 2, {{2, 5, 7, BlankPixel, 4, 9}});
    PutImage(2, 2, 2, {{3, -2.9f, 0.05f, BlankPixel}});
    MultiplyByImage(1, 2, c.scale);
    const std::vector<float> r = Plane(1, 1);
    const float s = c.scale ? 10.0f : 1.0f;
    EXPECT_CLOSE(r[0], c.expected, 1e-4);
    EXPECT_CLOSE(r[1], 5 * -2.9f * s, 1e-4);
    EXPECT_EQ(r[2], 7);           // beyond the second image's width
    EXPECT_EQ(r[3], BlankPixel);  // blank stays blank
    EXPECT_EQ(r[4], 4);           // the second image's pixel is blank
    EXPECT_EQ(r[5], 9);           // beyond the second image's width
  }
}

TEST_F(ImageMultiplyTest, ColourTimesGreyUsesPlaneOneAndColourTimesColourPlaneByPlane) {
  PutImage(1, 2, 1, {{1, 2}, {3, 4}, {5, 6}});
  PutImage(2, 2, 1, {{10, 20}});
  MultiplyByImage(1, 2, false);
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{30, 80}));
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{50, 120}));
  PutImage(3, 2, 1, {{1, 1}, {2, 2}, {3, 3}});
  MultiplyByImage(1, 3, false);
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{10, 40}));
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{150, 360}));
}

// A colour image with smooth, different planes.
void PutSmoothColour(int slot, int w, int h) {
  std::vector<float> r, g, b;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      r.push_back(0.5f + 0.01f * float(x));
      g.push_back(0.8f + 0.005f * float(y));
      b.push_back(0.3f + 0.002f * float(x + y));
    }
  PutImage(slot, w, h, {r, g, b});
}

TEST_F(LrgbTest, PlainWithTheColourImagesOwnLuminanceReturnsTheColour) {
  PutSmoothColour(1, 20, 15);
  ASSERT_TRUE(ConvertColorToMono(1, 2, false));  // L
  ASSERT_TRUE(ConvertColorToMono(1, 3, false));  // the luminance slot
  const std::vector<float> r = Plane(1, 1), g = Plane(1, 2), b = Plane(1, 3);
  ASSERT_TRUE(CombineLrgb(1, 3, 2, false));
  const std::vector<float> r2 = Plane(1, 1), g2 = Plane(1, 2), b2 = Plane(1, 3);
  for (size_t i = 0; i < r.size(); ++i) {
    EXPECT_CLOSE(r2[i], r[i], 1e-5);
    EXPECT_CLOSE(g2[i], g[i], 1e-5);
    EXPECT_CLOSE(b2[i], b[i], 1e-5);
  }
}

TEST_F(LrgbTest, FaintOrDarkPixelsComeOutGreyAndBlankStaysBlank) {
  const std::vector<float> l{5, 0, 7, BlankPixel, 9};
  const std::vector<float> lum{0.001f, 2, BlankPixel, 2, 2};
  std::vector<float> c1{1, 1, 1, 1, BlankPixel}, c2{2, 2, 2, 2, 3}, c3{3, 3, 3, 3, 1};
  TLrgbParams p;
  p.K = 3;
  LrgbRun(l, lum, {std::span<float>(c1), std::span<float>(c2), std::span<float>(c3)}, p);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(c1[i], l[i]) << i;
    EXPECT_EQ(c2[i], l[i]) << i;
    EXPECT_EQ(c3[i], l[i]) << i;
  }
  EXPECT_EQ(c1[4], BlankPixel);  // a blank colour value stays blank
  // s = 4.5, w = 1 / (0.8888888888 + 2.25): x = (c - 2) w + 2, result s x.
  const double w = 1 / (0.8888888888 + 2.25);
  EXPECT_CLOSE(c2[4], 4.5 * ((3 - 2) * w + 2), 1e-4);
  EXPECT_CLOSE(c3[4], 4.5 * ((1 - 2) * w + 2), 1e-4);
  // Auto-scaled: a grey pixel does not go below the floor.
  std::vector<float> d1{0}, d2{0}, d3{0};
  p.AutoScaled = true;
  p.LowL = 10;
  p.FloorL = 4;
  LrgbRun(std::vector<float>{1}, std::vector<float>{5}, {std::span<float>(d1), std::span<float>(d2), std::span<float>(d3)},
          p);
  EXPECT_EQ(d1[0], 4);
  EXPECT_EQ(d3[0], 4);
}

TEST_F(LrgbTest, VectorAndPlainPathsGiveTheSameBits) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> u(-20, 200);
  const size_t n = 1003;
  std::vector<float> l(n), lum(n), c0(3 * n);
  for (size_t i = 0; i < n; ++i) {
    l[i] = i % 97 == 0 ? BlankPixel : u(gen);
    lum[i] = i % 89 == 0 ? BlankPixel : u(gen);
  }
  for (size_t i = 0; i < c0.size(); ++i) c0[i] = i % 53 == 0 ? BlankPixel : u(gen);
  const bool saved = Avx2Enabled;
  for (const bool autoScaled : {false, true}) {
    TLrgbParams p;
    p.AutoScaled = autoScaled;
    p.Threshold = 5;
    p.LowL = autoScaled ? 30 : 0;
    p.FloorL = autoScaled ? 12 : p.FloorL;
    p.Noise2 = 8;
    p.K = 1.7;
    std::array<std::vector<float>, 2> out;
    for (const bool vector : {false, true}) {
      Avx2Enabled = vector;
      std::vector<float> c = c0;
      const std::span<float> all(c);
      LrgbRun(l, lum, {all.first(n), all.subspan(n, n), all.subspan(2 * n, n)}, p);
      out[vector ? 1 : 0] = c;
    }
    EXPECT_EQ(0, std::memcmp(out[0].data(), out[1].data(), out[0].size() * sizeof(float))) << autoScaled;
  }
  Avx2Enabled = saved;
}

TEST_F(LrgbTest, LevelRatioFromTheBrightPixels) {
  TLrgbParams p;
  p.Threshold = 1;
  p.LowL = 2;
  const std::vector<float> l{10, 6, 50, 1};
  const std::vector<float> lum{4, 2, 0.5f, 8};  // the last two do not count
  EXPECT_DOUBLE_EQ(LrgbLevelRatio(l, lum, p, 1.0), (8.0 + 4.0) / 6.0);
  EXPECT_DOUBLE_EQ(LrgbLevelRatio(l, lum, p, 3.0), 3 * (8.0 + 4.0) / 6.0);
  EXPECT_DOUBLE_EQ(LrgbLevelRatio(l, std::vector<float>{0, 0, 0, 0}, p, 3.0), 1.0);
}

// A noisy colour image and a noisy L of the same scene.
void PutNoisyScene(int w, int h) {
  std::mt19937 gen(7);
  std::normal_distribution<float> noise(0, 2);
  std::vector<float> r, g, b, l;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const float star = 400 * std::exp(-float((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2)) / 2000.0f);
      r.push_back(100 + star + noise(gen));
      g.push_back(110 + 0.7f * star + noise(gen));
      b.push_back(95 + 0.4f * star + noise(gen));
      l.push_back(200 + 2 * star + noise(gen));
    }
  PutImage(1, w, h, {r, g, b});
  PutImage(2, w, h, {l});
}

TEST_F(LrgbTest, AutoScaledStaysAboveTheFloorAndThreadsGiveTheSameBits) {
  const int w = 1024, h = 600;
  PutNoisyScene(w, h);
  const double nL = EstimatePlaneNoise(2, 1);
  TPercentileLevels levels;
  GetPercentileLevels(2, 1, 0, w - 1, 0, h - 1, 0.1, 99.9, levels);
  const float floorL = float(levels.LevelA + nL - 3 * nL);
  for (const bool autoScaled : {true, false}) {
    std::array<std::vector<float>, 2> results;
    for (const bool multicore : {false, true}) {
      const MulticoreGuard threads(multicore);
      PutNoisyScene(w, h);
      ASSERT_TRUE(ConvertColorToMono(1, 3, false));
      ASSERT_TRUE(CombineLrgb(1, 3, 2, autoScaled));
      std::vector<float>& all = results[multicore ? 1 : 0];
      for (int p = 1; p <= 3; ++p) {
        const std::vector<float> v = Plane(1, p);
        all.insert(all.end(), v.begin(), v.end());
      }
    }
    EXPECT_EQ(results[0], results[1]) << autoScaled;
    if (autoScaled) {
      for (const float v : results[0]) ASSERT_GE(v, floorL - 1e-3f);
    }
  }
}

TEST_F(ImageMultiplyTest, ThreadsGiveTheSameBits) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-5, 50);
  std::vector<float> a(1100 * 700), b(1000 * 650);
  for (float& v : a) v = u(gen);
  for (float& v : b) v = u(gen);
  std::array<std::vector<float>, 2> results;
  for (const bool multicore : {false, true}) {
    const MulticoreGuard threads(multicore);
    PutImage(1, 1100, 700, {a});
    PutImage(2, 1000, 650, {b});
    MultiplyByImage(1, 2, true);
    results[multicore ? 1 : 0] = Plane(1, 1);
  }
  EXPECT_EQ(results[0], results[1]);
}

}  // namespace
}  // namespace astrelon::test
