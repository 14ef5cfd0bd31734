// "PSF schärfen" moves nothing: its PSFs' weights centred on their middle
// pixel, the resampling against a transcription of the windowed sinc in numpy,
// and the stars of grey and colour pictures measured before and after for a
// PSF star anywhere within its pixel and for one with a neighbour.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/sharpening/psf/find_psf_extent.h"
#include "filters/sharpening/psf/psf_centring.h"
#include "filters/sharpening/psf/psf_star_check.h"
#include "filters/sharpening/psf/psf_steepening.h"
#include "../filters/scipy_oracle.h"
#include "sharpen_scenes.h"
#include "shell/stars/star_cutout_min_max.h"

namespace astrelon {
namespace {

// A cutout of a Gaussian star of width `sigma` and peak 5000 at (15 + dx,
// 15 + dy) on a sky of `gradient` levels per pixel across the cutout (0 at its
// middle), with noise of sigma `noise`; plane 2 the same star 0.2 px further
// right.
TStarCutout StarCutout(float sigma, float dx, float dy, float gradient, float noise) {
  std::mt19937 rng(7);
  std::normal_distribution<float> n(0, 1);
  TStarCutout c;
  c.PlaneCount = 2;
  for (int p = 1; p <= 2; ++p)
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x) {
        const float ex = float(x) - 15 - dx - 0.2f * float(p - 1), ey = float(y) - 15 - dy;
        c.At(p, x, y) = 5000 * std::exp(-(ex * ex + ey * ey) / (2 * sigma * sigma)) + gradient * float(x + y - 30) +
                        noise * n(rng);
      }
  CutoutMinMax(c);
  return c;
}

// After CentrePsfPair, each plane's reblur weights (above PsfTapThreshold)
// centre within 2 thousandths of a pixel of index 15 (a hundredth for stars
// 0.8 px wide, whose few taps cross the threshold as they move), and so do the
// steepened copy's narrow correction weights (above 0.04) within a hundredth,
// for stars 0.8 to 3 px wide anywhere within their pixel, on a sky gradient
// and in noise; the gradient is taken off the picked PSF (to a thousandth of a
// level per pixel). A noise-free star on its middle pixel stays as it is, bit
// for bit.
TEST(PsfCentring, TheWeightsCentreOnTheMiddlePixel) {
  for (float sigma : {0.8f, 1.6f, 3.0f})
    for (auto [dx, dy] :
         {std::pair{0.0f, 0.0f}, std::pair{0.3f, -0.45f}, std::pair{-0.5f, 0.5f}, std::pair{0.45f, 0.1f}})
      for (auto [gradient, noise] : {std::pair{0.0f, 0.0f}, std::pair{20.0f, 0.0f}, std::pair{5.0f, 10.0f}}) {
        const std::string at = "sigma " + std::to_string(sigma) + " at " + std::to_string(dx) + "," +
                               std::to_string(dy) + ", gradient " + std::to_string(gradient) + ", noise " +
                               std::to_string(noise);
        const TStarCutout given = StarCutout(sigma, dx, dy, gradient, noise);
        PrepareSteepenedPsf(given);
        TStarCutout picked = given, steepened = SteepenedPsf;
        CentrePsfPair(picked, steepened);
        TRectI extent;
        FindPsfExtent(picked, extent);
        for (int p = 1; p <= 2; ++p) {
          const TPsfOffset reblur = PsfWeightCentre(picked, p, extent, PsfTapThreshold(picked, p));
          const TPsfOffset correction = PsfWeightCentre(steepened, p, extent, 0.04f);
          const double near = sigma < 1 ? 1e-2 : 2e-3;
          EXPECT_LT(std::hypot(reblur.X, reblur.Y), near) << at << ", plane " << p;
          EXPECT_LT(std::hypot(correction.X, correction.Y), 1e-2) << at << ", plane " << p;
          const TPsfFrame sky = PsfFrameOf(picked, p);
          EXPECT_LE(std::hypot(sky.Gx, sky.Gy), 0.05 * gradient + 0.3 * noise / StarCutoutSize + 1e-3) << at;
        }
        if (dx == 0 && dy == 0 && gradient == 0 && noise == 0) {
          EXPECT_EQ(std::memcmp(picked.Planes[0].data(), given.Planes[0].data(), sizeof(picked.Planes[0])), 0) << at;
        }
      }
}

// ShiftCutoutPlane against numpy: each value the sum of the three-lobe
// windowed sinc's weights sinc(t)·sinc(t/3) over the six nearest columns and
// rows of the position (15 + shift) + (x - 15), divided by the sum of the
// weights of the valid values; blank where that is less than half the full
// weight. A plane with blank values at its edge, at several shifts.
TEST(PsfCentring, TheResamplingIsTheWindowedSinc) {
  if (!test::HaveScipy()) GTEST_SKIP() << "python3-scipy missing";
  TStarCutout c = StarCutout(1.3f, 0.2f, -0.1f, 3, 10);
  for (int y = 0; y < StarCutoutSize; ++y)
    for (int x = 0; x < 3; ++x) c.At(1, x, y) = BlankPixel;
  const std::vector<float> plane(c.Planes[0].begin(), c.Planes[0].end());
  for (const TPsfOffset shift : {TPsfOffset{0.37, -0.61}, TPsfOffset{-1.4, 0.25}, TPsfOffset{2.9, 3.1}}) {
    TStarCutout out;
    ShiftCutoutPlane(c, out, 1, shift);
    const std::vector<float> want = test::ScipyPlane(
        plane, StarCutoutSize, StarCutoutSize,
        "sx, sy = " + std::to_string(shift.X) + ", " + std::to_string(shift.Y) + "\n"
        "n = a.shape[0]\n"
        "def taps(pos):\n"
        "    first = int(np.floor(pos)) - 2\n"
        "    idx = np.arange(first, first + 6)\n"
        "    t = pos - idx\n"
        "    return idx, np.sinc(t) * np.sinc(t / 3)\n"
        "out = np.full((n, n), -1e11)\n"
        "for y in range(n):\n"
        "    iy, wy = taps(y + sy)\n"
        "    for x in range(n):\n"
        "        ix, wx = taps(x + sx)\n"
        "        s = w = 0.0\n"
        "        for j in range(6):\n"
        "            for i in range(6):\n"
        "                if 0 <= iy[j] < n and 0 <= ix[i] < n and not np.isnan(a[iy[j], ix[i]]):\n"
        "                    s += wy[j] * wx[i] * a[iy[j], ix[i]]\n"
        "                    w += wy[j] * wx[i]\n"
        "        if w >= 0.5 * wx.sum() * wy.sum():\n"
        "            out[y, x] = s / w\n");
    ASSERT_EQ(want.size(), plane.size());
    for (size_t i = 0; i < want.size(); ++i) {
      const float got = out.Planes[0][i];
      if (want[i] < -1e9f) {
        EXPECT_EQ(got, BlankPixel) << i << " shift " << shift.X << "," << shift.Y;
      } else {
        EXPECT_NEAR(got, want[i], 0.02f) << i << " shift " << shift.X << "," << shift.Y;
      }
    }
  }
}

// "PSF schärfen" at the dialog's defaults with the PSF cut from a star lying
// anywhere within its pixel, on a grey picture and (for two of the places) on
// a colour picture whose planes rise across it by 1 to 3 levels per pixel
// (noise 5): every other
// star's centre (its light above a plane fitted to the sky around it,
// sharpen_scenes.h's StarCentre) moves by at most 0.03 px in every plane, and the
// planes of a star move by at most 0.02 px apart.
using SharpenedStars = test::SharpenTest;

TEST_F(SharpenedStars, DoNotMove) {
  constexpr int W = 200, H = 160, Columns = 5, Rows = 4;
  for (int planes : {1, 3})
    for (auto [fx, fy] : {std::pair{0.0f, 0.0f}, std::pair{0.3f, 0.7f}, std::pair{0.5f, 0.5f}, std::pair{0.8f, 0.2f}}) {
      // The colour picture at two of the places.
      if (planes == 3 && fx < 0.4f) continue;
      std::mt19937 rng(2);
      std::uniform_real_distribution<float> u(0, 1);
      std::vector<test::TSceneStar> stars;
      for (int j = 0; j < Rows; ++j)
        for (int i = 0; i < Columns; ++i)
          stars.push_back(
              {20 + 40.0f * float(i) + u(rng), 20 + 40.0f * float(j) + u(rng), 3000 + 12000 * u(rng), 1.6f});
      // The PSF star.
      stars[7] = {100 + fx, 60 + fy, 20000, 1.6f};
      std::vector<std::vector<float>> pl;
      for (int p = 1; p <= planes; ++p)
        pl.push_back(test::StarPlane(W, H, 1000, 5, stars, 65535, 7 + unsigned(p), true, [&](int x, int y) {
          return planes == 3 ? float(p) * (float(x) + 0.5f * float(y)) : 0.0f;
        }));
      test::MakeImage(1, W, H, pl);
      UpdateMinMax(1);
      Run(9, planes, PickPsf(100, 60));
      ASSERT_TRUE(ui.Messages.empty());
      const std::string at = std::to_string(planes) + " planes, PSF star at +" + std::to_string(fx) + ",+" +
                             std::to_string(fy);
      for (size_t k = 0; k < stars.size(); ++k) {
        if (k == 7 || stars[k].X < 14 || stars[k].Y < 14 || stars[k].X > W - 14 || stars[k].Y > H - 14) continue;
        std::array<std::pair<double, double>, 3> moved{};
        for (int p = 1; p <= planes; ++p) {
          const auto a = test::StarCentre(Store.Image[1].Planes[size_t(p)], W, stars[k].X, stars[k].Y);
          const auto b = test::StarCentre(Store.Image[2].Planes[size_t(p)], W, stars[k].X, stars[k].Y);
          moved[size_t(p - 1)] = {b.first - a.first, b.second - a.second};
          EXPECT_LT(std::hypot(b.first - a.first, b.second - a.second), 0.03)
              << at << ", star " << k << ", plane " << p;
        }
        for (int p = 1; p < planes; ++p)
          EXPECT_LT(std::hypot(moved[size_t(p)].first - moved[0].first, moved[size_t(p)].second - moved[0].second),
                    0.02)
              << at << ", star " << k << ", plane " << p + 1 << " against plane 1";
      }
    }
}

// A neighbour of 10 to 50 % of the PSF star's peak 8 to 14 px away within the
// cutout, on grey pictures and a colour one: every other star's centre moves
// by at most 0.03 px in every plane, and none gets a ghost at the neighbour's
// offset (the mean change within 1.5 px of it) beyond 0.2 % of its peak.
// Centred on all of the cutout's light, the stars moved by up to 0.44 px.
TEST_F(SharpenedStars, DoNotMoveWhenThePsfStarHasANeighbour) {
  constexpr int W = 200, H = 160;
  struct Neighbour {
    float Part, Distance, Degrees;
    int Planes;
  };
  for (const Neighbour& n : {Neighbour{0.1f, 8, 90, 1}, Neighbour{0.5f, 8, 90, 1}, Neighbour{0.3f, 10, 30, 1},
                             Neighbour{0.25f, 14, 200, 1}, Neighbour{0.5f, 9, 300, 3}}) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(0, 1);
    std::vector<test::TSceneStar> stars;
    for (int j = 0; j < 4; ++j)
      for (int i = 0; i < 5; ++i)
        stars.push_back({20 + 40.0f * float(i) + u(rng), 20 + 40.0f * float(j) + u(rng), 2000 + 8000 * u(rng), 1.6f});
    stars[7] = {100, 60, 8000, 1.6f};
    const float dx = n.Distance * std::cos(n.Degrees * 0.0174533f), dy = n.Distance * std::sin(n.Degrees * 0.0174533f);
    std::vector<test::TSceneStar> scene = stars;
    scene.push_back({100 + dx, 60 + dy, 8000 * n.Part, 1.6f});
    std::vector<std::vector<float>> pl;
    for (int p = 1; p <= n.Planes; ++p)
      pl.push_back(test::StarPlane(W, H, 700 + 300 * float(p), 10, scene, 65535, 11 + unsigned(p)));
    test::MakeImage(1, W, H, pl);
    UpdateMinMax(1);
    Run(9, n.Planes, PickPsf(100, 60));
    ASSERT_TRUE(ui.Messages.empty());
    const std::string at = "neighbour of " + std::to_string(n.Part) + " at " + std::to_string(n.Distance) + " px, " +
                           std::to_string(n.Planes) + " planes";
    for (size_t k = 0; k < stars.size(); ++k) {
      const test::TSceneStar& s = stars[k];
      if (k == 7 || s.X < 14 || s.Y < 14 || s.X > W - 14 || s.Y > H - 14) continue;
      for (int p = 1; p <= n.Planes; ++p) {
        const std::span<const float> in = Store.Image[1].Planes[size_t(p)], out = Store.Image[2].Planes[size_t(p)];
        const auto a = test::StarCentre(in, W, s.X, s.Y);
        const auto b = test::StarCentre(out, W, s.X, s.Y);
        EXPECT_LT(std::hypot(b.first - a.first, b.second - a.second), 0.03) << at << ", star " << k << ", plane " << p;
        double ghost = 0;
        int count = 0;
        for (int y = int(s.Y + dy) - 2; y <= int(s.Y + dy) + 3; ++y)
          for (int x = int(s.X + dx) - 2; x <= int(s.X + dx) + 3; ++x)
            if (x >= 0 && y >= 0 && x < W && y < H && std::hypot(x - s.X - dx, y - s.Y - dy) <= 1.5f) {
              ghost += out[size_t(y * W + x)] - in[size_t(y * W + x)];
              ++count;
            }
        EXPECT_LT(std::fabs(ghost / count), 0.002 * s.Peak) << at << ", star " << k << ", plane " << p;
      }
    }
  }
}

}  // namespace
}  // namespace astrelon
