// The PSF check on users' pictures: stars on nebulae taken as the PSF, on grey
// pictures and after each of the four debayer methods; empty sky refused on
// JPEG and 8-bit PNG pictures; the noise of a picture's own 3 x 3 means.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/sharpening/psf/picture_noise.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "sharpen_scenes.h"

namespace astrelon {
namespace {

using PsfOnPictures = test::SharpenTest;

// A round nebula of `height` above the sky and width `sigma` at (64, 64).
double Nebula(int x, int y, float height, float sigma) {
  return height * std::exp(-((x - 64) * (x - 64) + (y - 64) * (y - 64)) / (2.0 * sigma * sigma));
}

// A 128 x 128 picture, sky 500 with noise 10, a nebula 10 to 25 px wide and
// 1000 to 10000 above the sky, a star of 8 noise levels (1.2 to 2.5 px wide)
// on its top, picked there: taken. The same after each debayer method (an
// RGGB mosaic with Poisson noise over skies of 600, 1100 and 700, the star 8
// levels of the green sky's noise): taken. Before the sky under the star was
// a curved surface and the noise held within the picture's own, all but the
// narrowest nebulae were refused.
TEST_F(PsfOnPictures, StarsOnNebulaeAreTaken) {
  constexpr int W = 128;
  int k = 0;
  for (float sigma : {10.0f, 15.0f, 25.0f})
    for (float height : {1000.0f, 3000.0f, 10000.0f}) {
      const float width = k % 3 == 0 ? 1.2f : k % 3 == 1 ? 1.6f : 2.5f;
      test::MakeImage(1, W, W,
                      {test::StarPlane(W, W, 500, 10, {{64.3f, 63.8f, 80, width}}, 65535, 7 + unsigned(k++), true,
                                       [&](int x, int y) { return float(Nebula(x, y, height, sigma)); })});
      UpdateMinMax(1);
      EXPECT_TRUE(PsfTaken(64, 64)) << "nebula " << sigma << " px wide, " << height << " high";
    }
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.CameraProfile = false;
  MosaicPattern = MosaicSettings.Cells;
  constexpr double Sky[3] = {600, 1100, 700};
  const double star = 8 * std::sqrt(Sky[1]);
  for (int method : {DmLinear, DmVng, DmKimmel, DmAstro})
    for (float sigma : {15.0f, 25.0f}) {
      std::mt19937 rng(unsigned(method * 10) + unsigned(sigma));
      std::vector<float> raw(size_t(W * W));
      for (int y = 0; y < W; ++y)
        for (int x = 0; x < W; ++x) {
          const int site = y % 2 == 0 ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
          const double d2 = (x - 64.3) * (x - 64.3) + (y - 63.8) * (y - 63.8);
          const double v = Sky[site] + Nebula(x, y, 3000, sigma) + star * std::exp(-d2 / 5.12);
          raw[size_t(y * W + x)] = float(std::poisson_distribution<int>(v)(rng));
        }
      test::MakeImage(3, W, W, {raw});
      MosaicSettings.Method = method;
      const int rgb = GenerateRgbFromMosaic(3);
      ASSERT_GT(rgb, 0);
      CopyImageSlot(rgb, 1);
      FreeSlot(rgb);
      UpdateMinMax(1);
      EXPECT_TRUE(PsfTaken(64, 64)) << "debayer method " << method << ", nebula " << sigma << " px wide";
    }
  MosaicSettings = TMosaicSettings{};
}

// Colour star fields (skies 26, 22 and 18 levels, noise 2.5, 18 stars of up
// to 200 levels) saved as JPEG at qualities 75 and 95 and as an 8-bit PNG:
// PSFs picked on 12 places more than 40 px from every star are all refused,
// and the picture's own noise of 3 x 3 means is that of the sky (a third of
// 2.5 where the compression leaves it; less on JPEG).
TEST_F(PsfOnPictures, EmptySkyIsRefusedOnJpegAndPng) {
  constexpr int W = 224, H = 168;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0, 1);
  std::vector<test::TSceneStar> stars;
  while (stars.size() < 18) {
    const test::TSceneStar s{10 + (W - 20) * u(rng), 10 + (H - 20) * u(rng), 20 + 180 * u(rng), 1.2f + 0.8f * u(rng)};
    // Room for empty places in the middle band.
    if (std::fabs(s.Y - H / 2.0f) > 50) stars.push_back(s);
  }
  std::vector<std::pair<int, int>> places;
  for (int x = 24; x <= W - 24 && places.size() < 12; x += 16) {
    const int y = H / 2 + (x / 16 % 2 == 0 ? -4 : 4);
    if (std::all_of(stars.begin(), stars.end(), [&](const auto& s) { return std::hypot(s.X - x, s.Y - y) > 40; }))
      places.push_back({x, y});
  }
  ASSERT_EQ(places.size(), 12u);
  test::TempDir dir;
  for (int quality : {75, 95, 0}) {
    std::vector<std::vector<float>> planes;
    const float sky[3] = {26, 22, 18};
    for (int p = 0; p < 3; ++p)
      planes.push_back(test::StarPlane(W, H, sky[p], 2.5f, stars, 255, 30 + unsigned(p), false));
    ASSERT_TRUE(test::LoadEightBit(planes, W, H, quality, dir.file("q" + std::to_string(quality))));
    const std::string at = std::string(quality > 0 ? "JPEG " : "PNG ") + std::to_string(quality);
    int taken = 0;
    for (auto [x, y] : places) taken += PsfTaken(x, y);
    EXPECT_EQ(taken, 0) << at;
    const TImageSlot& im = Store.Image[1];
    const float own = SmoothedNoiseOfPlane(im.Planes[1], im.Width, im.Height);
    EXPECT_LT(own, 2.5f / 3 * 1.15f) << at;
    if (quality == 0) {
      EXPECT_GT(own, 2.5f / 3 * 0.85f) << at;
    }
  }
}

}  // namespace
}  // namespace astrelon
