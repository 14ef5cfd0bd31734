// The pixel filters of the dialog on small images with values worked out by
// hand, the blur cache of functions 3, 5 and 6, and the grey images the colour
// functions leave alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "filter_images.h"
#include "filters/dialog/filter_state.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/alignment/stars/find_star_centroid.h"
#include "kernels/gauss/gauss_filters.h"
#include "store/planes/image_statistics.h"

namespace astrelon {
namespace {

using test::MakeGrey;

class PixelFiltersTest : public test::KernelTest {
protected:
  void TearDown() override {
    ReleaseFilterWorkSlots();
    test::KernelTest::TearDown();
  }
  // A call on slot 1 into slot 2 (made a copy of it), rectangle r (default the
  // whole image), every plane selected.
  static TFilterCall Call(int nr, std::array<float, 3> values, std::optional<TWorkRect> r = {}) {
    test::MakeResult(1, 2);
    TFilterCall c;
    c.Funktion = nr;
    c.Source = 1;
    c.Destination = 2;
    c.Rect = r ? *r : test::WholeImage(1);
    const int planes = Store.Image[1].PlaneCount;
    for (int p = 1; p <= planes; ++p) c.Planes[size_t(p)] = true;
    c.Yuv = Store.Image[1].ColorModel == CmYuv;
    for (int j = 1; j <= 3; ++j) c.Value[size_t(j)] = values[size_t(j - 1)];
    return c;
  }
  static float Out(int x, int y, int p = 1) { return Store.Image[2].At(p, x, y); }
  static float In(int x, int y, int p = 1) { return Store.Image[1].At(p, x, y); }
  static void SetBlackWhite(float black, float white) {
    Store.Display[1].Black = black;
    Store.Display[1].White = white;
  }
  static bool SameAsSource(int p = 1) {
    const TPlane& a = Store.Image[1].Planes[size_t(p)];
    const TPlane& b = Store.Image[2].Planes[size_t(p)];
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * 4) == 0;
  }
  // An RGB image of w x h whose planes come from f.
  static void MakeColor(int w, int h, const std::function<float(int p, int x, int y)>& f) {
    test::MakeImage(1, w, h, 3, f);
  }
};

TEST_F(PixelFiltersTest, UnsmearSubtractsTheRunningSumDownEachColumn) {
  const float B = BlankPixel;
  // Column 0: 100, 100, 100; column 1 blank at the first row; column 2 blank inside.
  const float v[3][3] = {{100, B, 100}, {100, 100, B}, {100, 100, 100}};
  MakeGrey(1, 3, 3, [&](int x, int y) { return v[y][x]; });
  TFilterCall c = Call(1, {100, 0, 0});
  UnsmearColumns(c);
  EXPECT_FLOAT_EQ(Out(0, 0), 100.0f);
  EXPECT_FLOAT_EQ(Out(0, 1), 99.5f);
  EXPECT_FLOAT_EQ(Out(0, 2), 99.0025f);
  EXPECT_EQ(Out(1, 0), B);  // stays blank, the sum starts at 0
  EXPECT_FLOAT_EQ(Out(1, 1), 100.0f);
  EXPECT_FLOAT_EQ(Out(1, 2), 99.5f);
  EXPECT_EQ(Out(2, 1), B);
  EXPECT_FLOAT_EQ(Out(2, 2), 99.5f);  // the blank added nothing
}

TEST_F(PixelFiltersTest, LinearGradientIsRemovedOverTheWholeImage) {
  MakeGrey(1, 10, 4, [](int x, int y) { return 500.0f + x + 10 * y; });
  Store.Image[1].At(1, 3, 2) = BlankPixel;
  SetBlackWhite(0, 400);
  // Vertical 5, horizontal -2: gy = 400/4 * 5 * 0.04 = 20, gx = 400/10 * -2 * 0.04 = -3.2.
  TFilterCall c = Call(2, {5, -2, 0}, TWorkRect{2, 3, 1, 1});
  RemoveLinearGradient(c);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) {
      if (x == 3 && y == 2) {
        EXPECT_EQ(Out(x, y), BlankPixel);
        continue;
      }
      EXPECT_NEAR(Out(x, y), In(x, y) - (y - 2.0) * 20.0 - (5.0 - (x + 1)) * -3.2, 1e-3) << x << "," << y;
    }
}

TEST_F(PixelFiltersTest, GaussSharpenAndSmoothMixTheCachedBlur) {
  MakeGrey(1, 30, 20, [](int x, int y) { return 100.0f + ((x * 7 + y * 13) % 17) * 10.0f; });
  const float radius = 2.875f;
  test::MakeResult(1, 3);
  fGauss(1, 3, 0, 0, 29, 0, 19, radius, false, 0, 100, "");
  auto blur = [](int x, int y) { return Store.Image[3].At(1, x, y); };

  // Threshold 0: v + (v - b) k / 100.
  TFilterCall c = Call(3, {radius, 0, 50});
  GaussSharpen(c);
  for (int y = 0; y < 20; y += 3)
    for (int x = 0; x < 30; x += 4)
      EXPECT_NEAR(Out(x, y), In(x, y) + (In(x, y) - blur(x, y)) * 0.5f, 1e-3) << x << "," << y;
  // A threshold above every difference leaves the image.
  c = Call(3, {radius, 100, 50});
  GaussSharpen(c);
  EXPECT_TRUE(SameAsSource());

  // Strength 0 gives the source, 100 the blur, 30 the mix.
  c = Call(5, {radius, 0, 0});
  GaussSmooth(c);
  EXPECT_TRUE(SameAsSource());
  c = Call(5, {radius, 100, 0});
  GaussSmooth(c);
  EXPECT_EQ(0, std::memcmp(Store.Image[2].Planes[1].data(), Store.Image[3].Planes[1].data(), 30 * 20 * 4));
  c = Call(5, {radius, 30, 0});
  GaussSmooth(c);
  EXPECT_NEAR(Out(4, 5), 0.7f * In(4, 5) + 0.3f * blur(4, 5), 1e-3);
}

TEST_F(PixelFiltersTest, BlurCacheIsBuiltOncePerRadiusAndRectangle) {
  MakeGrey(1, 30, 20, [](int x, int y) { return 100.0f + ((x * 7 + y * 13) % 17) * 10.0f; });
  TFilterCall c = Call(5, {3, 100, 0});
  GaussSmooth(c);
  const int cache = FilterBlurSlot;
  ASSERT_GE(cache, 1);
  EXPECT_TRUE(FilterBlurValid);
  EXPECT_EQ(FilterBlurRadius, 3.0f);
  // A mark in the cache shows whether a later run blurs anew.
  Store.Image[size_t(cache)].At(1, 10, 10) = 12345.0f;
  c = Call(5, {3, 100, 0});
  GaussSmooth(c);
  EXPECT_EQ(Out(10, 10), 12345.0f);  // slider 2 only: the cache is used as it is
  c = Call(5, {4, 100, 0});
  GaussSmooth(c);
  EXPECT_NE(Out(10, 10), 12345.0f);  // another radius blurs anew, in the same slot
  EXPECT_EQ(FilterBlurSlot, cache);
  Store.Image[size_t(cache)].At(1, 10, 10) = 12345.0f;
  c = Call(5, {4, 100, 0}, TWorkRect{2, 25, 3, 17});
  GaussSmooth(c);
  EXPECT_NE(Out(10, 10), 12345.0f);  // another rectangle too
  EXPECT_EQ(Out(1, 1), In(1, 1));    // outside it nothing changes

  // A working rectangle of 2 x 2 pixels or less leaves 3, 5 and 6 as the copy.
  for (int nr : {3, 5, 6}) {
    ReleaseFilterWorkSlots();
    c = Call(nr, {3, 50, 100}, TWorkRect{4, 6, 4, 5});
    if (nr == 3) GaussSharpen(c);
    if (nr == 5) GaussSmooth(c);
    if (nr == 6) UnsharpMaskLuminance(c);
    EXPECT_TRUE(SameAsSource()) << nr;
    EXPECT_FALSE(FilterBlurValid) << nr;
  }
}

TEST_F(PixelFiltersTest, UnsharpMaskingPushesAwayFromTheBackgroundInsideTheRectangle) {
  MakeGrey(1, 40, 30, [](int x, int y) { return 200.0f + 3.0f * x + (x == 20 && y == 15 ? 500.0f : 0.0f); });
  SetBlackWhite(150, 400);
  const TWorkRect r{5, 34, 4, 25};
  TFilterCall c = Call(6, {6, 40, 0}, r);
  UnsharpMaskLuminance(c);
  ASSERT_TRUE(FilterBlurValid);
  const TImageSlot& bg = Store.Image[size_t(FilterBlurSlot)];
  TPercentileLevels median;
  GetPercentileLevels(FilterBlurSlot, 1, r.x1, r.x2, r.y1, r.y2, 50, 50, median);
  const double k = 0.4, base = 0.3 * median.LevelA + 0.7 * 150, gain = k * 1.5 + 1;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= r.x1 && x <= r.x2 && y >= r.y1 && y <= r.y2;
      const double want = inside ? (In(x, y) - k * (bg.At(1, x, y) - base)) * gain : In(x, y);
      EXPECT_NEAR(Out(x, y), want, 1e-2) << x << "," << y;
    }
  // The star stands out more against its background than before.
  EXPECT_GT(Out(20, 15) - Out(18, 15), In(20, 15) - In(18, 15));
}

TEST_F(PixelFiltersTest, ColourFunctionsLeaveGreyImagesAndNeutralSettingsTheImage) {
  MakeGrey(1, 6, 4, [](int x, int y) { return 100.0f + x * y; });
  SetBlackWhite(50, 200);
  for (auto [nr, values] : {std::pair{7, std::array<float, 3>{0, 0, 0}}, std::pair{18, std::array<float, 3>{1, 0, 0}},
                            std::pair{19, std::array<float, 3>{30, 2, 50}}}) {
    TFilterCall c = Call(nr, values);
    c.Radio[2] = 2;
    if (nr == 7) AdjustColorSaturation(c);
    if (nr == 18) ReduceColorHalos(c);
    if (nr == 19) AdjustCielab(c);
    EXPECT_TRUE(SameAsSource()) << nr;
  }

  MakeColor(8, 5, [](int p, int x, int y) { return 60.0f + 20.0f * p + 7.0f * x + 3.0f * y * p; });
  SetBlackWhite(50, 250);
  // Saturation 100 % and neutral L*a*b* settings return the image (the
  // white point's weights cancel); saturation 0 makes it grey.
  TFilterCall c = Call(7, {100, 0, 0});
  AdjustColorSaturation(c);
  c = Call(19, {0, 1, 100});
  AdjustCielab(c);
  for (int p = 1; p <= 3; ++p)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 8; ++x) EXPECT_NEAR(Out(x, y, p), In(x, y, p), 2e-3) << p << " " << x << "," << y;
  c = Call(7, {100, 0, 0});
  AdjustColorSaturation(c);
  for (int p = 1; p <= 3; ++p) EXPECT_NEAR(Out(3, 2, p), In(3, 2, p), 1e-3);
  c = Call(7, {0, 0, 0});
  AdjustColorSaturation(c);
  EXPECT_NEAR(Out(3, 2, 1), Out(3, 2, 2), 1e-3);
  EXPECT_NEAR(Out(3, 2, 3), Out(3, 2, 2), 1e-3);
  // Brightness +20 raises every plane; the unselected plane of 7 is the source.
  c = Call(19, {20, 1, 100});
  AdjustCielab(c);
  for (int p = 1; p <= 3; ++p) EXPECT_GT(Out(3, 2, p), In(3, 2, p));
  c = Call(7, {200, 0, 0});
  c.Planes[3] = false;
  AdjustColorSaturation(c);
  EXPECT_EQ(Out(3, 2, 3), In(3, 2, 3));
  EXPECT_NE(Out(3, 2, 1), In(3, 2, 1));
}

TEST_F(PixelFiltersTest, HalosAreLimitedByTheOtherColours) {
  // Red 100, green 80, blue 300 (a blue halo); the range gives the offset.
  MakeColor(4, 3, [](int p, int x, int) { return p == 1 ? 100.0f : p == 2 ? 80.0f : 300.0f - x; });
  const TImageSlot& im = Store.Image[1];
  const double offset = 10.0 * (double(im.MaxValue) - im.MinValue + 0.1) * 0.01;
  TFilterCall c = Call(18, {1.5f, 10, 0});
  c.Radio[2] = 2;  // "Blau"
  ReduceColorHalos(c);
  for (int x = 0; x < 4; ++x) {
    EXPECT_NEAR(Out(x, 1, 3), 100.0 * 1.5 + offset, 1e-3);
    EXPECT_EQ(Out(x, 1, 1), 100.0f);
    EXPECT_EQ(Out(x, 1, 2), 80.0f);
  }
  // "Magenta": red and blue limited by green.
  c = Call(18, {1.0f, 0, 0});
  c.Radio[2] = 4;
  ReduceColorHalos(c);
  EXPECT_NEAR(Out(0, 0, 1), 80.0f, 1e-4);
  EXPECT_NEAR(Out(0, 0, 3), 80.0f, 1e-4);
}

TEST_F(PixelFiltersTest, DeinterlaceShiftsEverySecondRow) {
  MakeGrey(1, 12, 9, [](int x, int y) { return float(100 * y + x); });
  TFilterCall c = Call(13, {0, 0, 0});
  DeinterlaceRows(c);
  EXPECT_TRUE(SameAsSource());
  // Two rows down and one column right: row y takes row y + 2 at x - 1.
  c = Call(13, {1, 2, 0});
  DeinterlaceRows(c);
  EXPECT_FLOAT_EQ(Out(5, 1), In(4, 3));
  EXPECT_FLOAT_EQ(Out(5, 0), In(5, 0));  // the first field stays
  EXPECT_EQ(Out(5, 7), In(5, 7));        // row 9 lies outside: the row stays
  // One row: half of the rows y and y + 2.
  c = Call(13, {0, 1, 0});
  DeinterlaceRows(c);
  EXPECT_FLOAT_EQ(Out(5, 3), 0.5f * In(5, 3) + 0.5f * In(5, 5));
}

TEST_F(PixelFiltersTest, LarsonSekaninaComparesAlongArcsAroundTheStar) {
  // A star at (20.3, 14.6) on a sky of 100 plus a radial slope.
  MakeGrey(1, 40, 30, [](int x, int y) {
    const float dx = x - 20.3f, dy = y - 14.6f;
    return 100.0f + 0.5f * std::sqrt(dx * dx + dy * dy) + 5000.0f * std::exp(-(dx * dx + dy * dy) / 4.0f);
  });
  LarsonSekaninaLevels = {0, 77.0f, 0, 0};
  FindStarCentroid(1, {15, 25, 10, 20}, -1, 1);
  EXPECT_NEAR(StarPosition.X, 20.3f, 0.15f);
  EXPECT_NEAR(StarPosition.Y, 14.6f, 0.15f);
  // No turn and no radius: every pixel samples itself and gives bg (inside the
  // border, where rounding may put the point just outside the image).
  TFilterCall c = Call(16, {0, 0, 0});
  LarsonSekanina(c);
  for (int y = 1; y < 29; y += 4)
    for (int x = 1; x < 39; x += 5) EXPECT_NEAR(Out(x, y), 77.0f, 0.05f) << x << "," << y;
  // A turn leaves a field symmetric about the centre flat at bg, with and without smoothing.
  for (bool smooth : {false, true}) {
    c = Call(16, {0, 20, 0});
    c.Checked[1] = smooth;
    LarsonSekanina(c);
    EXPECT_NEAR(Out(30, 20), 77.0f, 1.0f) << smooth;
    EXPECT_NEAR(Out(12, 8), 77.0f, 1.0f) << smooth;
  }
}

}  // namespace
}  // namespace astrelon
