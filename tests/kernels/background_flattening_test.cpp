// Background flattening: MinBlur's steps, the automatic flattening of a star
// field, and the running-percentile flattening of a rectangle fitted into the
// image around it.
#include <algorithm>
#include <cmath>

#include "../pixelops/slot_images.h"
#include "kernels/background/background_flattening.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BackgroundFlatteningTest : public StoreTest {
protected:
  // A 60 x 40 sky: a gentle gradient, one star and a blank pixel.
  static void PutSky(int slot) {
    std::vector<float> v(60 * 40);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        v[size_t(y * 60 + x)] = 1000.0f + 2.0f * x + y +
                                4000.0f * std::exp(-float((x - 30) * (x - 30) + (y - 20) * (y - 20)) / 3.0f);
    v[5 * 60 + 7] = BlankPixel;
    PutImage(slot, 60, 40, {v});
  }
  static float At(int slot, int x, int y) { return Store.Image[size_t(slot)].At(1, x, y); }

  // A star field on a linear plus quadratic background (without the stars: `sky`).
  struct TStarField {
    int W = 0, H = 0;
    std::vector<float> Image, Sky;
    std::vector<std::pair<int, int>> Stars;
  };
  static TStarField MakeStarField(int w, int h) {
    TStarField f{w, h, std::vector<float>(size_t(w * h)), std::vector<float>(size_t(w * h)), {}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double dx = x - w / 2.0;
        f.Sky[size_t(y * w + x)] = float(1000 + 0.3 * x + 0.2 * y + 3e-4 * dx * dx);
      }
    f.Image = f.Sky;
    uint32_t seed = 12345;
    const auto next = [&seed](int n) { return int((seed = seed * 1664525u + 1013904223u) >> 8) % n; };
    for (int k = 0; k < 300; ++k) {
      const int sx = 8 + next(w - 16), sy = 8 + next(h - 16);
      f.Stars.push_back({sx, sy});
      for (int y = sy - 6; y <= sy + 6; ++y)
        for (int x = sx - 6; x <= sx + 6; ++x)
          f.Image[size_t(y * w + x)] += float(2000 * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / 4.5));
    }
    return f;
  }
  static bool NearStar(const TStarField& f, int x, int y) {
    return std::any_of(f.Stars.begin(), f.Stars.end(),
                       [&](auto s) { return std::abs(s.first - x) < 12 && std::abs(s.second - y) < 12; });
  }
};

TEST_F(BackgroundFlatteningTest, OneStepOfMinBlurForARadiusOfOne) {
  // 3 x 3 of 10 with 100 in the middle: the centre weighs 0.7 of its eight
  // neighbours, so one step gives (0.7 * 100 + 10) / 1.7 there.
  std::vector<float> v(9, 10.0f);
  v[4] = 100.0f;
  for (int radius : {1, -1}) {
    PutImage(1, 3, 3, {v});
    PutImage(2, 3, 3, {v});
    EXPECT_TRUE(MinBlur(1, 2, 1, radius, 1, false, 2));
    EXPECT_NEAR(At(2, 1, 1), 80.0f / 1.7f, 1e-3f) << radius;
    EXPECT_FALSE(Store.InUse[0]);
    EXPECT_TRUE(Store.Image[0].Planes[1].empty());
  }
  EXPECT_EQ(AutoFlattenRadius(1000, 3), 200);
  EXPECT_EQ(AutoFlattenRadius(1000, 5), 76);
  EXPECT_EQ(AutoFlattenRadius(4, 3), 0);
}

TEST_F(BackgroundFlatteningTest, AutomaticFlatteningKeepsConstantsAndBlanks) {
  std::vector<float> v(40 * 30, 1000.0f);
  v[100] = BlankPixel;
  PutImage(1, 40, 30, {v});
  PutImage(2, 40, 30, {v});
  EXPECT_TRUE(FlattenBackgroundAuto(1, 2, 3, false));
  for (size_t i = 0; i < v.size(); ++i) {
    if (i == 100) ASSERT_EQ(Store.Image[2].Planes[1][i], BlankPixel);
    else ASSERT_NEAR(Store.Image[2].Planes[1][i], 1000.0f, 1e-2f) << i;
  }
  EXPECT_EQ(Plane(1, 1), v);
  // Narrower than 5 pixels: the radius is 0 and only the first step runs.
  PutImage(3, 4, 6, {std::vector<float>(24, 7.0f)});
  PutImage(4, 4, 6, {std::vector<float>(24, 7.0f)});
  EXPECT_TRUE(FlattenBackgroundAuto(3, 4, 3, false));
  for (float x : Plane(4, 1)) ASSERT_NEAR(x, 7.0f, 1e-4f);
}

TEST_F(BackgroundFlatteningTest, AutomaticFlatteningRemovesTheGradientAndKeepsTheStars) {
  const TStarField f = MakeStarField(1500, 1000);
  for (int divisor : {3, 5}) {
    PutImage(1, f.W, f.H, {f.Image});
    PutImage(2, f.W, f.H, {f.Image});
    ASSERT_TRUE(FlattenBackgroundAuto(1, 2, divisor, false));
    // The left variation over the sky between the stars, as a share of the
    // original's: up to the edges, where the windows keep only the neighbours
    // on the image's side, "Nebel" leaves 18 % and "Sterne" 8 %; 250 pixels
    // inside "Sterne" 2.5 %.
    const auto left = [&](int margin) {
      float lo = 1e30f, hi = -1e30f, skyLo = 1e30f, skyHi = -1e30f;
      for (int y = margin; y < f.H - margin; y += 10)
        for (int x = margin; x < f.W - margin; x += 10) {
          if (NearStar(f, x, y)) continue;
          lo = std::min(lo, At(2, x, y));
          hi = std::max(hi, At(2, x, y));
          skyLo = std::min(skyLo, f.Sky[size_t(y * f.W + x)]);
          skyHi = std::max(skyHi, f.Sky[size_t(y * f.W + x)]);
        }
      return (hi - lo) / (skyHi - skyLo);
    };
    EXPECT_LT(left(0), divisor == 3 ? 0.2f : 0.085f) << divisor;
    if (divisor == 5) EXPECT_LT(left(250), 0.03f);
    // Star peaks above the local background (8 pixels away) stay within 10 %.
    for (size_t k = 0; k < f.Stars.size(); k += 7) {
      const auto [sx, sy] = f.Stars[k];
      if (NearStar(f, sx + 8, sy) && f.Image[size_t(sy * f.W + sx + 8)] != f.Sky[size_t(sy * f.W + sx + 8)])
        continue;
      const float before = f.Image[size_t(sy * f.W + sx)] - f.Image[size_t(sy * f.W + sx + 8)];
      const float after = At(2, sx, sy) - At(2, sx + 8, sy);
      EXPECT_NEAR(after, before, 0.1f * before) << divisor << " " << sx << "," << sy;
    }
  }
}

TEST_F(BackgroundFlatteningTest, KeptBackgroundIgnoresTheStar) {
  PutSky(1);
  FlattenBackgroundMasked(1, 1, 8, 0, 0, 59, 39, false, true, false, "", 1, 0.35);
  // The background under the star (peak 4000) stays near the sky.
  EXPECT_GT(At(1, 30, 20), 1000.0f + 60 + 20 - 25.0f);
  EXPECT_LT(At(1, 30, 20), 1000.0f + 60 + 20 + 400.0f);
  EXPECT_NEAR(At(1, 10, 30), 1000.0f + 20 + 30, 25.0f);
  EXPECT_EQ(At(1, 7, 5), BlankPixel);
}

TEST_F(BackgroundFlatteningTest, RectangleIsFlattenedAndFittedIntoTheImage) {
  PutSky(1);
  PutSky(2);
  EXPECT_TRUE(FlattenBackgroundMasked(1, 2, 8, 10, 5, 50, 35, false, false, false, "", 2, 0.25));
  // Outside the rectangle the source stays, and so do its first row and column.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x)
      if (x <= 10 || x >= 50 || y <= 5 || y >= 35) ASSERT_EQ(At(2, x, y), At(1, x, y)) << x << "," << y;
  // Across each inner edge the step between the last pixel outside and the first inside stays small.
  double top = 0, left = 0;
  for (int x = 11; x < 50; ++x) top += At(2, x, 6) - At(2, x, 5);
  for (int y = 6; y < 35; ++y) left += At(2, 11, y) - At(2, 10, y);
  EXPECT_LT(std::fabs(top / 39), 3.0);
  EXPECT_LT(std::fabs(left / 29), 3.0);
  EXPECT_GT(At(2, 30, 20), At(2, 30, 12) + 3000.0f);
}

TEST_F(BackgroundFlatteningTest, WholeImageIsPlainlyFlattened) {
  // A constant stays constant; a radius of 0 counts as 1 and writes no NaN.
  PutImage(3, 20, 10, {std::vector<float>(200, 500.0f)});
  PutImage(4, 20, 10, {std::vector<float>(200, 500.0f)});
  EXPECT_TRUE(FlattenBackgroundForBatch(3, 4, 0));
  for (float v : Plane(4, 1)) ASSERT_NEAR(v, 500.0f, 1e-3f);
  // The sky's gradient goes; where no background is left the source stays.
  PutSky(1);
  PutSky(2);
  EXPECT_TRUE(FlattenBackgroundForBatch(1, 2, 8));
  EXPECT_NEAR(At(2, 15, 10), At(2, 45, 30), 15.0f);
  EXPECT_EQ(At(2, 7, 5), BlankPixel);
  for (float v : Plane(2, 1)) ASSERT_FALSE(std::isnan(v));
}

TEST_F(BackgroundFlatteningTest, MaskModeTakesRawValuesWithoutTheRowWindowsRightEnd) {
  // Values 10 x along the rows; with the 100 % percentile and radius 1 the row
  // window (x - 1, x) gives 10 x, the columns keep it. Masked pixels stay blank.
  std::vector<float> v(30 * 20);
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) v[size_t(y * 30 + x)] = 10.0f * x;
  std::vector<uint8_t> mask(v.size(), 0);
  mask[10 * 30 + 15] = 255;
  PutImage(1, 30, 20, {v});
  PutImage(2, 30, 20, {v});
  EXPECT_TRUE(FlattenBackgroundMasked(1, 2, 1, 0, 0, 29, 19, false, false, true, "", 2, 1.0, nullptr, mask));
  EXPECT_EQ(At(2, 15, 10), BlankPixel);
  for (int y = 2; y < 18; ++y)
    for (int x = 2; x < 28; ++x)
      if (x != 15) ASSERT_FLOAT_EQ(At(2, x, y), 10.0f * x) << x << "," << y;
}

TEST_F(BackgroundFlatteningTest, ThreadCountDoesNotChangeTheResult) {
  const TStarField f = MakeStarField(600, 400);
  std::vector<std::vector<float>> results;
  for (bool multi : {false, true}) {
    MulticoreGuard guard(multi);
    PutImage(1, f.W, f.H, {f.Image});
    PutImage(2, f.W, f.H, {f.Image});
    PutImage(3, f.W, f.H, {f.Image});
    FlattenBackgroundAuto(1, 2, 5, false);
    FlattenBackgroundMasked(1, 3, 40, 100, 50, 450, 300, false, false, false, "", 3, 0.25);
    results.push_back(Plane(2, 1));
    results.push_back(Plane(3, 1));
  }
  EXPECT_EQ(results[0], results[2]);
  EXPECT_EQ(results[1], results[3]);
}

}  // namespace
}  // namespace astrelon::test
