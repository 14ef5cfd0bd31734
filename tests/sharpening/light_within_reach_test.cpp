// The most light a pixel of "PSF schärfen"'s result can hold: the sums of the
// light above the background around each pixel against numpy, and a run with
// a PSF whose weights nearly cancel (a star beside a hole almost as deep),
// which grows without limit unless bounded, held below them.
#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filters/sharpening/light_within_reach.h"
#include "filters/sharpening/psf/find_psf_extent.h"
#include "../filters/scipy_oracle.h"
#include "sharpen_scenes.h"
#include "shell/stars/star_cutout_min_max.h"
#include "store/planes/image_statistics.h"

namespace astrelon {
namespace {

// The bound of each pixel of `rect` as numpy sums it: the light above the
// background, max(source - background, 0) (0 where blank), shifted by every
// offset of `reach` with zeros outside the rectangle, added up.
std::vector<float> NumpyBound(const std::vector<float>& plane, int w, int h, const TWorkRect& rect,
                              const TRectI& reach, float background) {
  return test::ScipyPlane(
      plane, w, h,
      "b = " + std::to_string(background) + "\n"
      "r = a[" + std::to_string(rect.y1) + ":" + std::to_string(rect.y2 + 1) + ", " + std::to_string(rect.x1) + ":" +
          std::to_string(rect.x2 + 1) + "]\n"
      "light = np.nan_to_num(np.maximum(r - b, 0))\n"
      "m, n = light.shape\n"
      "out = np.full((m, n), b)\n"
      "for dy in range(" + std::to_string(reach.Top) + ", " + std::to_string(reach.Bottom + 1) + "):\n"
      "    for dx in range(" + std::to_string(reach.Left) + ", " + std::to_string(reach.Right + 1) + "):\n"
      "        s = np.zeros((m, n))\n"
      "        ys, xs = slice(max(-dy, 0), m - max(dy, 0)), slice(max(-dx, 0), n - max(dx, 0))\n"
      "        s[ys, xs] = light[max(dy, 0):m + min(dy, 0), max(dx, 0):n + min(dx, 0)]\n"
      "        out += s\n");
}

// On a star field with blank pixels, for a rectangle inside the picture and
// supports reaching unevenly to either side: the bound of every pixel within
// 1e-6 of its own size of numpy's.
TEST(LightWithinReach, IsTheLightAboveTheBackgroundAround) {
  if (!test::HaveScipy()) GTEST_SKIP() << "python3-scipy missing";
  constexpr int W = 90, H = 70;
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(0, 1);
  std::vector<test::TSceneStar> stars;
  for (int k = 0; k < 12; ++k) stars.push_back({90 * u(rng), 70 * u(rng), 100 + 20000 * u(rng), 1 + 2 * u(rng)});
  std::vector<float> plane = test::StarPlane(W, H, 1000, 10, stars, 65535, 3);
  for (int k = 0; k < 40; ++k) plane[size_t(k * 151 % (W * H))] = BlankPixel;
  for (const TWorkRect rect : {TWorkRect{0, W - 1, 0, H - 1}, TWorkRect{7, 80, 3, 60}})
    for (const TRectI reach : {TRectI{-7, -7, 7, 7}, TRectI{-2, -5, 6, 1}}) {
      std::vector<float> bound;
      LightWithinReach(plane, W, rect, reach, 1003.5f, bound);
      const std::vector<float> want = NumpyBound(plane, W, H, rect, reach, 1003.5f);
      ASSERT_EQ(bound.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) ASSERT_NEAR(bound[i], want[i], 1e-6 * want[i]) << i;
    }
}

// "PSF schärfen" at the dialog's defaults with a PSF that holds a star and,
// 3 px beside it, a hole 0.5 to 0.95 as deep: its reblur nearly cancels, and
// the iterations amplify what it leaves. The star passes the check, the run
// goes, and no pixel ends above the light within the PSF's reach (numpy's),
// with "Schwarzschwelle" on and off.
using LightBound = test::SharpenTest;

TEST_F(LightBound, APsfThatNearlyCancelsStaysBelowIt) {
  if (!test::HaveScipy()) GTEST_SKIP() << "python3-scipy missing";
  constexpr int W = 120, H = 90;
  std::mt19937 rng(8);
  std::uniform_real_distribution<float> u(0, 1);
  std::vector<test::TSceneStar> stars;
  for (int k = 0; k < 12; ++k) stars.push_back({10 + 100 * u(rng), 10 + 70 * u(rng), 500 + 20000 * u(rng), 1.6f});
  const std::vector<float> plane = test::StarPlane(W, H, 1000, 10, stars, 65535, 4);
  test::MakeImage(1, W, H, {plane});
  UpdateMinMax(1);
  for (float hole : {0.5f, 0.8f, 0.95f}) {
    TStarCutout psf;
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x) {
        const float star = std::exp(-float((x - 15) * (x - 15) + (y - 15) * (y - 15)) / 5.12f);
        const float beside = std::exp(-float((x - 18) * (x - 18) + (y - 15) * (y - 15)) / 5.12f);
        psf.At(1, x, y) = 5000 * (star - hole * beside);
      }
    CutoutMinMax(psf);
    // The support as the run takes it, widened by as far as the centring may
    // move the PSF (its weights centre up to 3 px off the star): the bound
    // over it is at least the run's.
    TRectI extent;
    FindPsfExtent(psf, extent);
    const TRectI reach{extent.Left - 20, extent.Top - 20, extent.Right - 10, extent.Bottom - 10};
    const std::vector<float> bound = NumpyBound(plane, W, H, test::WholeImage(1), reach, GetBackgroundLevel(1, 1));
    ASSERT_EQ(bound.size(), plane.size());
    for (bool black : {true, false}) {
      test::MakeResult(1, 2);
      TFilterCall c = Call(9, 1);
      c.Checked[1] = black;
      ui.Messages.clear();
      PrepareSteepenedPsf(psf);
      IterativePsfSharpen(c, psf, SteepenedPsf);
      ASSERT_TRUE(ui.Messages.empty()) << hole;
      const TPlane& out = Store.Image[2].Planes[1];
      int64_t over = 0;
      for (size_t i = 0; i < out.size(); ++i) over += out[i] > bound[i] * (1 + 1e-6f);
      EXPECT_EQ(over, 0) << "hole " << hole << (black ? ", Schwarzschwelle" : "");
    }
  }
}

}  // namespace
}  // namespace astrelon
