// The centre of a star on an undebayered RGGB mosaic: against the place the
// star was drawn at (Gaussian and Moffat stars integrated over each pixel,
// coloured, over a coloured sloping sky with noise), and unmoved by a white
// balance and black level applied to the sites.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "kernels/mosaic/mosaic_star_fit.h"

namespace astrelon {
namespace {

constexpr int W = 64, H = 48;

struct TStarDraw {
  double X, Y;
  double Sigma;              // Gaussian width, or the Moffat core radius when Beta > 0
  double Beta = 0;           // Moffat exponent; 0 draws a Gaussian
  double Flux[3];            // red, green, blue
};

// An RGGB mosaic (red at even x and y) of the star over a sky of its own
// level and slope per colour, each pixel the mean of 8 x 8 samples, with
// Gaussian noise of `noise` plus the star's own shot noise.
std::vector<float> DrawMosaic(const TStarDraw& s, double noise, uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal;
  const double sky[3] = {1200, 2000, 900}, slopeX[3] = {6, -4, 2}, slopeY[3] = {-3, 5, 4};
  std::vector<float> v(size_t(W) * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int colour = (x & 1) + (y & 1);  // 0 red, 1 green, 2 blue
      double star = 0;
      for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) {
          const double dx = x - 0.5 + (i + 0.5) / 8 - s.X, dy = y - 0.5 + (j + 0.5) / 8 - s.Y;
          const double r2 = (dx * dx + dy * dy) / (s.Sigma * s.Sigma);
          star += s.Beta > 0 ? (s.Beta - 1) / (M_PI * s.Sigma * s.Sigma) * std::pow(1 + r2, -s.Beta)
                             : std::exp(-0.5 * r2) / (2 * M_PI * s.Sigma * s.Sigma);
        }
      star *= s.Flux[colour] / 64;
      const double level = sky[colour] + slopeX[colour] * x + slopeY[colour] * y;
      v[size_t(y) * W + x] = float(std::nearbyint(level + star + normal(random) * std::sqrt(noise * noise + star)));
    }
  return v;
}

// The white balance and black level of a colour-mosaic correction: bias off,
// red times rmul, blue times bmul.
std::vector<float> Balanced(std::vector<float> v, double bias, double rmul, double bmul) {
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      v[size_t(y) * W + x] = float((v[size_t(y) * W + x] - bias) * std::array{rmul, 1.0, bmul}[(x & 1) + (y & 1)]);
  return v;
}

TEST(MosaicStarFit, FindsTheDrawnCentreWhateverTheWhiteBalance) {
  const TStarDraw stars[] = {
      {30.3, 21.7, 1.1, 0, {60000, 90000, 30000}},    // about 2.6 pixels wide at half height
      {31.85, 24.15, 1.4, 0, {20000, 40000, 90000}},  // a blue star
      {29.5, 22.5, 0.9, 0, {90000, 50000, 10000}},    // a red star between the sites
      {32.2, 20.9, 1.6, 3, {50000, 80000, 60000}},    // Moffat wings
      {30.0, 23.4, 1.2, 0, {12000, 18000, 8000}},     // faint: peak about 8 times the noise
  };
  uint32_t seed = 7;
  for (const TStarDraw& s : stars) {
    SCOPED_TRACE(testing::Message() << s.X << ", " << s.Y);
    const std::vector<float> raw = DrawMosaic(s, 20, ++seed);
    const double tolerance = s.Flux[1] < 20000 ? 0.1 : 0.04;
    // From the nearest pixel and from a pixel two away: the same centre.
    for (const TFloatPoint start : {TFloatPoint{float(std::nearbyint(s.X)), float(std::nearbyint(s.Y))},
                                    TFloatPoint{float(std::nearbyint(s.X) + 2), float(std::nearbyint(s.Y) - 1)}}) {
      const auto c = FitMosaicStar(raw, W, H, start, 1.2);
      ASSERT_TRUE(c.has_value());
      EXPECT_NEAR(c->X, s.X, tolerance);
      EXPECT_NEAR(c->Y, s.Y, tolerance);
      for (const auto& [bias, rmul, bmul] : {std::tuple{50.0, 1.25, 0.8}, std::tuple{0.0, 2.1, 1.6}}) {
        const auto b = FitMosaicStar(Balanced(raw, bias, rmul, bmul), W, H, start, 1.2);
        ASSERT_TRUE(b.has_value());
        EXPECT_NEAR(b->X, c->X, 1e-3);
        EXPECT_NEAR(b->Y, c->Y, 1e-3);
      }
    }
  }
}

TEST(MosaicStarFit, NoStarNoCentre) {
  const TStarDraw none{30, 22, 1.2, 0, {0, 0, 0}};
  EXPECT_FALSE(FitMosaicStar(DrawMosaic(none, 20, 3), W, H, {30, 22}, 1.2).has_value());
  // Blank pixels take no part: a window of blanks has no star.
  EXPECT_FALSE(FitMosaicStar(std::vector<float>(size_t(W) * H, -1e11f), W, H, {30, 22}, 1.2).has_value());
}

}  // namespace
}  // namespace astrelon
