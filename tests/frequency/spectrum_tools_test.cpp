// Convolution with a PSF image, the spectrum morph, the relief view and the
// smoothing of star cutouts.
#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "frequency/spectra/psf_convolution.h"
#include "frequency/spectra/relief_view.h"
#include "frequency/spectra/spectrum_morph.h"
#include "kernels/regions/add_border.h"
#include "shell/stars/star_cutout_smoothing.h"
#include "spectrum_fixture.h"

namespace astrelon {
namespace {

using test::MakeImage;

class SpectrumTools : public test::StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    psfScale_ = Options.PsfScale;
  }
  void TearDown() override {
    Options.PsfScale = psfScale_;
    StoreTest::TearDown();
  }
  uint8_t psfScale_ = 1;
};

double Mean(int slot, int p) {
  double s = 0;
  for (float v : Store.Image[size_t(slot)].Planes[size_t(p)]) s += v;
  return s / double(Store.Image[size_t(slot)].PixelCount());
}

// A PSF whose only bright pixel is its centre keeps the image's mean and nearly
// the image, also when it is larger than the image and cut to it; planes
// outside the channel selection are copied.
TEST_F(SpectrumTools, CentrePixelPsfKeepsTheImage) {
  MakeImage(1, 64, 48, 3, test::Sky);
  Store.Display[1].ChannelSelection = 1;
  Store.Display[1].White = 123.0f;
  for (const auto& [w, h, cx, cy] : {std::tuple{9, 9, 4, 4}, {100, 80, 49, 39}, {8, 6, 3, 2}}) {
    for (const bool scale : {false, true}) {
      Options.PsfScale = scale ? 1 : 0;
      MakeImage(2, w, h, 1, [cx = cx, cy = cy](int x, int y, int) { return x == cx && y == cy ? 5.0f : 0.0f; });
      std::string error;
      const int result = ConvolveWithPsfImage(1, 2, &error);
      ASSERT_GE(result, 1) << error;
      EXPECT_EQ(Store.Image[size_t(result)].Width, 64);
      EXPECT_NEAR(Mean(result, 1), Mean(1, 1), 1e-4 * Mean(1, 1)) << w;
      for (int y = 1; y < 47; ++y)
        for (int x = 1; x < 63; ++x) ASSERT_NEAR(Store.Image[size_t(result)].At(1, x, y), Store.Image[1].At(1, x, y), 0.05) << w << ": " << x << "," << y;
      EXPECT_EQ(test::PlaneOf(result, 2), test::PlaneOf(1, 2));
      EXPECT_EQ(Store.Display[size_t(result)].White, 123.0f);
      FreeSlot(result);
      FreeSlot(2);
      EXPECT_EQ(FindFreeSlot(), 2);  // every working slot is freed
    }
  }
}

TEST_F(SpectrumTools, FlatPsfIsRefused) {
  MakeImage(1, 32, 32, 1, test::Sky);
  MakeImage(2, 32, 32, 1, [](int, int, int) { return 3.0f; });
  Options.PsfScale = 0;
  std::string error;
  EXPECT_LT(ConvolveWithPsfImage(1, 2, &error), 1);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(FindFreeSlot(), 3);
  // Background removed, a small constant PSF is flat too.
  MakeImage(2, 5, 5, 1, [](int, int, int) { return 3.0f; });
  Options.PsfScale = 1;
  error.clear();
  EXPECT_LT(ConvolveWithPsfImage(1, 2, &error), 1);
  EXPECT_FALSE(error.empty());
}

// Mixing an image with itself gives it back (away from the blended edges); a
// larger second image makes the result its size.
TEST_F(SpectrumTools, MorphOfAnImageWithItself) {
  MakeImage(1, 40, 30, 1, test::Sky);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  ASSERT_TRUE(MorphSpectra(2, 1));
  for (int y = 2; y < 28; ++y)
    for (int x = 2; x < 38; ++x) ASSERT_NEAR(Store.Image[2].At(1, x, y), Store.Image[1].At(1, x, y), 2e-3) << x << "," << y;
  MakeImage(3, 50, 20, 1, test::Sky);
  ASSERT_TRUE(MorphSpectra(2, 3));
  EXPECT_EQ(Store.Image[2].Width, 50);
  EXPECT_EQ(Store.Image[2].Height, 20);
  EXPECT_TRUE(IsValidPixel(Store.Image[2].At(1, 45, 10)));  // the padding is filled
  EXPECT_EQ(FindFreeSlot(), 4);
}

// The relief's size and kind, and its walls: the last drawn column in grey 48
// and the last drawn row in grey 64, from y div 2 + 120 up by 21 pixels for a
// dark pixel (b = 0).
TEST_F(SpectrumTools, ReliefSizeKindAndWalls) {
  MakeImage(1, 20, 12, 1, [](int, int, int) { return 0.0f; });
  Store.Display[1].Black = 0.0f;
  Store.Display[1].White = 100.0f;
  const TPicture grey = RenderRelief(1);
  ASSERT_EQ(grey.Format.Width, 20 + 3 + 4);
  ASSERT_EQ(grey.Format.Height, 6 + 160);
  ASSERT_EQ(grey.Format.Channels, 1);
  auto at = [&](const TPicture& p, int x, int y) { return p.Samples8[size_t(y * p.Format.Width + x) * size_t(p.Format.Channels)]; };
  auto column = [](int c, int y) { return int(std::nearbyint((c + 2) * (0.15 * y / 20 + 1 - 0.15 * 12 / 20) + 3 + 0.075 * 12 - 0.25 * y)); };
  const int wallX = column(18, 0);  // last drawn column, row 0
  EXPECT_EQ(at(grey, wallX, 120), 48);
  EXPECT_EQ(at(grey, wallX, 100), 48);
  EXPECT_EQ(at(grey, wallX, 99), 255);
  EXPECT_EQ(at(grey, column(5, 10), 125), 64);  // last drawn row y = 10
  EXPECT_EQ(at(grey, column(5, 0), 100), 0);  // an ordinary pixel: one dark stroke pixel at y div 2 + 100
  EXPECT_EQ(at(grey, column(5, 0), 99), 255);

  MakeImage(2, 20, 12, 3, [](int, int, int p) { return p == 1 ? 100.0f : 0.0f; });
  Store.Display[2].White = 100.0f;
  EXPECT_EQ(RenderRelief(2).Format.Channels, 3);
  Store.Image[2].ColorModel = CmYuv;
  EXPECT_EQ(RenderRelief(2).Format.Channels, 1);
}

TEST_F(SpectrumTools, StarCutoutSmoothing) {
  TStarCutout cutout;
  cutout.PlaneCount = 2;
  cutout.Planes[0].fill(7.0f);
  cutout.Planes[1].fill(0.0f);
  cutout.At(2, 15, 15) = 100.0f;
  cutout.At(1, 3, 3) = BlankPixel;
  SmoothStarCutout(cutout, 20.0, 3.0);
  EXPECT_EQ(cutout.At(1, 3, 3), BlankPixel);
  EXPECT_FLOAT_EQ(cutout.At(1, 20, 20), 7.0f);
  EXPECT_FLOAT_EQ(cutout.At(1, 3, 4), 7.0f);
  // Radius 7 for σ 3, a mix of 0.2.
  EXPECT_GT(cutout.At(2, 22, 15), 0.0f);
  EXPECT_EQ(cutout.At(2, 23, 15), 0.0f);
  EXPECT_GT(cutout.At(2, 15, 15), 80.0f);
  EXPECT_LT(cutout.At(2, 15, 15), 81.0f);
  EXPECT_FLOAT_EQ(cutout.PlaneMax[1], 7.0f);
  EXPECT_FLOAT_EQ(cutout.MaxValue, cutout.At(2, 15, 15));
}

TEST_F(SpectrumTools, AddBorderGrowsInPlace) {
  MakeImage(1, 10, 10, 1, [](int x, int y, int) { return float(x + 10 * y); });
  ASSERT_TRUE(AddBorder(1, 1, 2, 3, 4, 7.0f));
  const TImageSlot& im = Store.Image[1];
  ASSERT_EQ(im.Width, 17);
  ASSERT_EQ(im.Height, 13);
  EXPECT_EQ(im.At(1, 3, 1), 0.0f);
  EXPECT_EQ(im.At(1, 12, 10), 99.0f);
  EXPECT_EQ(im.At(1, 2, 5), 7.0f);
  EXPECT_EQ(im.At(1, 13, 12), 7.0f);
  ASSERT_TRUE(AddBorder(1, -5, 0, 0, 0, 1.0f));
  EXPECT_EQ(im.Height, 13);
  EXPECT_THROW(AddBorder(1, 0, 2000000000, 0, 2000000000, 0.0f), std::bad_alloc);
  EXPECT_EQ(im.Width, 17);
}

}  // namespace
}  // namespace astrelon
