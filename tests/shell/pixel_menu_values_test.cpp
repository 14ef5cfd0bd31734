// The engine half of the pixel menu: picked values, white-balance factors, the
// grey gamma with its power, and the transparency fills.
#include <cmath>
#include <cstring>
#include <random>

#include "../pixelops/slot_images.h"
#include "../planes/simd_paths.h"
#include "shell/pixel_menu/display_shift.h"
#include "shell/pixel_menu/grey_gamma.h"
#include "shell/pixel_menu/picked_values.h"
#include "shell/pixel_menu/pixel_fills.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::Plane;
using test::PutImage;
constexpr float B = BlankPixel;

class PixelMenuValuesTest : public test::StoreTest {};

TEST_F(PixelMenuValuesTest, NeighbourhoodMeansAndFactors) {
  // 20 x 20 holding x + y; at the corner the square is 8 x 8 (mean 7), one blank
  // pixel is left out.
  std::vector<float> v(400);
  for (int i = 0; i < 400; ++i) v[size_t(i)] = float(i % 20 + i / 20);
  PutImage(1, 20, 20, {v});
  EXPECT_DOUBLE_EQ(NeighbourhoodMean15(1, 1, 0, 0), 7.0);
  Store.Image[1].Planes[1][0] = B;
  EXPECT_DOUBLE_EQ(NeighbourhoodMean15(1, 1, 0, 0), 448.0 / 63.0);
  EXPECT_DOUBLE_EQ(NeighbourhoodMean15(1, 1, 10, 10), 20.0);  // 15 x 15 inside
  PutImage(2, 2, 1, {{B, NAN}});
  EXPECT_EQ(NeighbourhoodMean15(2, 1, 0, 0), 0.0);

  const auto f = WhiteBalanceFactors(50, 100, 200);
  EXPECT_DOUBLE_EQ(f[0], 1.92);
  EXPECT_DOUBLE_EQ(f[1], 0.96);
  EXPECT_DOUBLE_EQ(f[2], 0.48);
  EXPECT_EQ(WhiteBalanceFactors(0, 10, 10)[0], 1.0);

  Store.Display[1].Black = 120;
  Store.Display[1].White = 200;
  for (int i = 0; i < 7; ++i) Store.Display[1].CurvePoints[size_t(i)].X = float(100 + i);
  ShiftDisplayRange(1, -120);
  EXPECT_EQ(Store.Display[1].Black, 0.0f);
  EXPECT_EQ(Store.Display[1].White, 80.0f);
  EXPECT_EQ(Store.Display[1].CurvePoints[6].X, -14.0f);
}

TEST_F(PixelMenuValuesTest, GreyGammaTakesThePickedColourToItsLuma) {
  Store.Display[1].Black = 0;
  Store.Display[1].White = 100;
  const TGreyGamma g = GreyGammaFor(Store.Display[1], 50, 25, 75);
  PutImage(1, 3, 1, {{50, -5, B}, {25, 0, B}, {75, 100, B}});
  ApplyGreyGamma(1, g);
  EXPECT_NEAR(Plane(1, 1)[0], 38.0f, 1e-4);
  EXPECT_NEAR(Plane(1, 2)[0], 38.0f, 1e-4);
  EXPECT_NEAR(Plane(1, 3)[0], 38.0f, 1e-4);
  EXPECT_EQ(Plane(1, 1)[1], -5.0f);  // not above Black
  EXPECT_EQ(Plane(1, 2)[1], 0.0f);
  EXPECT_EQ(Plane(1, 3)[1], 100.0f);  // 1^e
  EXPECT_EQ(Plane(1, 3)[2], B);

  // The power agrees with std::pow to double precision wherever the float result
  // is neither 0 nor infinite.
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> lx(-40, 40), le(std::log(0.011), std::log(298.0));
  for (int i = 0; i < 20000; ++i) {
    const double x = std::exp(lx(rng)), e = std::exp(le(rng));
    const double want = std::pow(x, e);
    if (want > 1e57 || want < 1e-57) continue;
    ASSERT_NEAR(GreyGammaPower(x, e) / want, 1.0, 2e-13) << x << "^" << e;
  }
  EXPECT_TRUE(std::isinf(float(GreyGammaPower(INFINITY, 0.011) * 0.001)));
}

TEST_F(PixelMenuValuesTest, GreyGammaPathsAndThreadsAgreeBitForBit) {
  constexpr int W = 517, H = 300;
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> u(-100, 70000);
  std::vector<float> planes[3];
  for (auto& p : planes) {
    p.resize(W * H);
    for (float& v : p) v = rng() % 40 == 0 ? B : u(rng);
  }
  planes[1][8] = NAN;
  TDisplayRecord display;
  display.Black = 12.5f;
  display.White = 30000;
  const TGreyGamma g = GreyGammaFor(display, 9000, 20000, 400);
  std::vector<float> reference;
  for (test::TPath path : test::AvailablePaths())
    for (bool multi : {false, true}) {
      test::PathGuard guard(path);
      test::MulticoreGuard cores(multi);
      PutImage(1, W, H, {planes[0], planes[1], planes[2]});
      ApplyGreyGamma(1, g, guard.Vector());
      std::vector<float> all;
      for (int p = 1; p <= 3; ++p) {
        const auto v = Plane(1, p);
        all.insert(all.end(), v.begin(), v.end());
      }
      if (reference.empty()) {
        reference = all;
        const double want = std::pow((planes[0][0] - 12.5) / 29987.5, g.Exponent[0]) * 29987.5 + 12.5;
        EXPECT_NEAR(all[0] / want, 1.0, 1e-6);
        continue;
      }
      EXPECT_EQ(std::memcmp(all.data(), reference.data(), all.size() * sizeof(float)), 0)
          << test::PathName(path) << " multicore " << multi;
    }
}

TEST_F(PixelMenuValuesTest, TransparencyAndFills) {
  // Colour: only pixels whose three planes all match become blank, in every plane.
  PutImage(1, 3, 1, {{1, 1, 2}, {5, 6, 5}, {9, 9, 9}});
  MakeValueTransparent(1, {1, 5, 9});
  EXPECT_EQ(Plane(1, 1), (std::vector<float>{B, 1, 2}));
  EXPECT_EQ(Plane(1, 3), (std::vector<float>{B, 9, 9}));
  FillTransparentPixels(1, {10, 20, 30});
  EXPECT_EQ(Plane(1, 2), (std::vector<float>{20, 6, 5}));
  // Grey: plane 1 decides; NaN is blank too.
  PutImage(2, 3, 1, {{4, NAN, 4}});
  MakeValueTransparent(2, {4, 0, 0});
  EXPECT_EQ(Plane(2, 1)[2], B);
  FillTransparentPixels(2, {7, 0, 0});
  EXPECT_EQ(Plane(2, 1), (std::vector<float>{7, 7, 7}));

  // A rectangle of a colour image set to one value, clipped to the image.
  PutImage(3, 3, 3, {std::vector<float>(9, 1), std::vector<float>(9, 1), std::vector<float>(9, 1)});
  WorkRect = {1, 5, -2, 0};
  FillWorkRectWithValue(3, B);
  EXPECT_EQ(Plane(3, 3), (std::vector<float>{1, B, B, 1, 1, 1, 1, 1, 1}));
}

TEST_F(PixelMenuValuesTest, MosaicFillTakesTheMedianOfSameColourNeighbours) {
  // 5 x 5: the centre is blank, its eight same-colour neighbours hold 1..8, the
  // others 100.
  std::vector<float> v(25, 100);
  const int ring[8][2] = {{0, 0}, {2, 0}, {4, 0}, {0, 2}, {4, 2}, {0, 4}, {2, 4}, {4, 4}};
  for (int k = 0; k < 8; ++k) v[size_t(ring[k][1] * 5 + ring[k][0])] = float(k + 1);
  v[12] = B;
  PutImage(1, 5, 5, {v});
  FillBlankMosaicPixels(1);
  EXPECT_EQ(Plane(1, 1)[12], 4.5f);
  EXPECT_EQ(Plane(1, 1)[0], 1.0f);

  v[0] = v[2] = v[10] = B;
  PutImage(1, 5, 5, {v});
  FillBlankMosaicPixels(1);
  // The first pass reads the plane as it was before it: (2, 0) from 3 and 5,
  // (0, 2) from 6 and 7, the centre from 3, 5, 6, 7, 8; (0, 0) has no valid
  // neighbour yet and takes 4, 6.5 and 6 in the second pass.
  const auto r = Plane(1, 1);
  EXPECT_EQ(r[2], 4.0f);
  EXPECT_EQ(r[10], 6.5f);
  EXPECT_EQ(r[12], 6.0f);
  EXPECT_EQ(r[0], 6.0f);
  // Without any valid same-colour pixel nothing changes.
  PutImage(2, 2, 2, {{B, B, B, B}});
  FillBlankMosaicPixels(2);
  EXPECT_EQ(Plane(2, 1), (std::vector<float>(4, B)));
}

}  // namespace
}  // namespace astrelon
