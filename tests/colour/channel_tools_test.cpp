// Three grey images into RGB and a colour image into three grey ones, the
// Gaussian PSF image and the levelling of a picked PSF.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "../pixelops/slot_images.h"
#include "filters/sharpening/psf/psf_source.h"
#include "pixelops/colour/rgb_from_grey_images.h"
#include "pixelops/colour/split_colour_planes.h"
#include "pixelops/pixels/gaussian_psf_image.h"
#include "store/planes/value_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class ChannelTools : public StoreTest {};

bool HasCard(int slot, const std::string& start) {
  for (const std::string& c : Store.Header[size_t(slot)].ActiveCards())
    if (c.rfind(start, 0) == 0) return true;
  return false;
}

TEST_F(ChannelTools, PsfImageSizeAndPeak) {
  struct Case {
    double r;
    int32_t n;
  };
  for (const Case c : {Case{1, 15}, Case{2.5, 25}, Case{50, 403}, Case{0.099, 0}, Case{50.01, 0}, Case{0.5, 15},
                       Case{3, 29}}) {
    SCOPED_TRACE(c.r);
    EXPECT_EQ(GaussianPsfSize(c.r), c.n);
    Store.Reset();
    ASSERT_EQ(MakeGaussianPsfImage(1, c.r), c.n > 0);
    if (c.n == 0) {
      EXPECT_FALSE(Store.InUse[1]);
      continue;
    }
    const TImageSlot& im = Store.Image[1];
    ASSERT_EQ(im.Width, c.n);
    ASSERT_EQ(im.Height, c.n);
    const auto& p = im.Planes[1];
    const size_t peak = size_t(std::max_element(p.begin(), p.end()) - p.begin());
    EXPECT_EQ(peak, size_t(c.n / 2) * size_t(c.n) + size_t(c.n / 2));
    // Symmetric about the centre pixel.
    EXPECT_FLOAT_EQ(p[peak - 1], p[peak + 1]);
    EXPECT_FLOAT_EQ(p[peak - size_t(c.n)], p[peak + size_t(c.n)]);
    EXPECT_EQ(Store.Display[1].White, 10000.0f);
    EXPECT_EQ(Store.FileName[1].rfind("PSFGauss", 0), 0u);
  }
}

TEST_F(ChannelTools, PsfBorderMedianBecomesZero) {
  TStarCutout c;
  c.PlaneCount = 3;
  for (int p = 1; p <= 3; ++p)
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x) c.At(p, x, y) = float(100 * p + (x + y) % 7) + (x == 15 && y == 15 ? 500 : 0);
  c.At(1, 0, 0) = BlankPixel;
  TStarCutout yuv = c;
  yuv.ColorModel = CmYuv;
  SubtractPsfBorderMedian(c);
  SubtractPsfBorderMedian(yuv);
  for (int p = 1; p <= 3; ++p) {
    std::vector<float> border;
    for (int y = 0; y < StarCutoutSize; ++y)
      for (int x = 0; x < StarCutoutSize; ++x)
        if ((x == 0 || y == 0 || x == 31 || y == 31) && c.At(p, x, y) > -1e9f) border.push_back(c.At(p, x, y));
    EXPECT_NEAR(Percentile(border, 0.5), 0.0f, 1e-4f) << p;
  }
  EXPECT_EQ(c.At(1, 0, 0), BlankPixel);
  EXPECT_EQ(yuv.At(1, 15, 15), c.At(1, 15, 15));  // Y levelled
  EXPECT_EQ(yuv.At(2, 15, 15), 700.0f + 30 % 7);  // U and V as they were
  // The range follows the levelled values (the PSF sharpening reads the maxima).
  EXPECT_EQ(c.PlaneMax[1], c.At(1, 15, 15));
  EXPECT_EQ(yuv.PlaneMax[2], 700.0f + 30 % 7);
}

TEST_F(ChannelTools, SplittingAYuvImageGivesTwoAxisGreyImagesWithoutHistory) {
  PutImage(1, 4, 3, {std::vector<float>(12, 1), std::vector<float>(12, 2), std::vector<float>(12, 3)});
  Store.Image[1].ColorModel = CmYuv;
  Store.FileName[1] = "/d/m31.fit";
  SetHeader3Axis(1);
  AddHistoryCard(1, "Vorher", 0);
  Store.Display[1].DisplayType = DtColorYuv;
  Store.Display[1].White = 50;
  const char* names[] = {"/d/Y_von_m31.fit", "/d/U_von_m31.fit", "/d/V_von_m31.fit"};
  for (int p = 1; p <= 3; ++p) {
    ASSERT_TRUE(ExtractColourPlane(1, p, 1 + p));
    const int s = 1 + p;
    EXPECT_EQ(Store.FileName[size_t(s)], names[p - 1]);
    EXPECT_EQ(Store.Image[size_t(s)].PlaneCount, 1);
    EXPECT_FALSE(Store.Image[size_t(s)].IsColor);
    EXPECT_EQ(PlaneValues(s, 1), std::vector<float>(12, float(p)));
    EXPECT_EQ(GetHeaderValue(s, "NAXIS   ", false), "2");
    EXPECT_FALSE(HasCard(s, "NAXIS3"));
    EXPECT_EQ(Store.Display[size_t(s)].DisplayType, DtGrey);
    EXPECT_LE(Store.Display[size_t(s)].White, float(p) + 0.01f);  // into the plane's range
  }
  EXPECT_EQ(PlanePrefix(CmRgb, 2), "Gruen_von_");
  EXPECT_FALSE(ExtractColourPlane(2, 1, 9));  // a grey source
  EXPECT_FALSE(Store.InUse[9]);
}

TEST_F(ChannelTools, OneGreyImageThreeTimesGivesEqualPlanes) {
  std::vector<float> v(20);
  for (size_t i = 0; i < v.size(); ++i) v[i] = float(i * i);
  PutImage(1, 5, 4, {v});
  Store.FileName[1] = "/obs/night/g.fts";
  ASSERT_TRUE(ComposeRgbFromGrey(1, 1, 1, 2, "RGB_neu", ".fit"));
  const TImageSlot& im = Store.Image[2];
  EXPECT_TRUE(im.IsColor);
  EXPECT_EQ(im.PlaneCount, 3);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(2, p), v) << p;
  EXPECT_EQ(Store.FileName[2], "/obs/night/RGB_neu.fit");
  EXPECT_EQ(GetHeaderValue(2, "NAXIS3  ", false), "3");
  EXPECT_FALSE(ComposeRgbFromGrey(1, 1, 1, 2, "RGB_neu", ".fit"));  // slot taken
}

}  // namespace
}  // namespace astrelon::test
