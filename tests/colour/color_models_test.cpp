// RGB and YUV switched in place: the pixel values, blank pixels, the two paths
// and what a switch leaves in the slot.
#include "store/color_models.h"

#include <gtest/gtest.h>

#include "colour_images.h"
#include "store/display/display_record.h"

namespace astrelon::test {
namespace {

using ColorModels = ColourTest;

TEST_F(ColorModels, RgbToYuvValuesAndBack) {
  MakeColourImage(1, 2, {{100, 0, 0}, {10, 20, 30}});
  ASSERT_TRUE(RGBtoYUV(1));
  const TRgb yuv = PixelOf(1, 0);
  EXPECT_CLOSE(yuv[0], 29.9f, 1e-4);
  EXPECT_CLOSE(yuv[1], -14.7407f, 1e-4);
  EXPECT_CLOSE(yuv[2], 61.4777f, 1e-4);
  EXPECT_EQ(Store.Image[1].ColorModel, CmYuv);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorYuv);
  EXPECT_EQ(GetHeaderValue(1, "CTYPE3", false), "YUV");
  EXPECT_FLOAT_EQ(Store.Image[1].PlaneMin[2], -14.7407f);  // measured while converting
  EXPECT_FALSE(RGBtoYUV(1));                               // already YUV

  ASSERT_TRUE(YUVtoRGB(1));
  const TRgb a = PixelOf(1, 0), b = PixelOf(1, 1);
  for (size_t c = 0; c < 3; ++c) {
    EXPECT_CLOSE(a[c], (TRgb{100, 0, 0})[c], 1e-4);
    EXPECT_CLOSE(b[c], (TRgb{10, 20, 30})[c], 1e-4);
  }
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
  EXPECT_EQ(GetHeaderValue(1, "CTYPE3", false), "RGB");
  EXPECT_FALSE(YUVtoRGB(1));
  EXPECT_TRUE(ToggleColorModel(1));  // a toggle gives its conversion's result
  EXPECT_TRUE(ToggleColorModel(1));
  EXPECT_FALSE(ToggleColorModel(0));
  const auto cards = Store.Header[1].ActiveCards();
  EXPECT_NE(std::find_if(cards.begin(), cards.end(),
                         [](const std::string& c) { return c.starts_with("HISTORY RGBtoYUV, YUVtoRGB, RGBtoYUV, YUVtoRGB"); }),
            cards.end());
}

TEST_F(ColorModels, OneBlankPlaneBlanksThePixelBothWays) {
  MakeColourImage(1, 3, {{BlankPixel, 5, 6}, {1, 2, 3}, {4, -2e9f, 6}});
  ASSERT_TRUE(RGBtoYUV(1));
  for (size_t i : {0u, 2u})
    for (float v : PixelOf(1, i)) EXPECT_EQ(v, BlankPixel);
  Store.Image[1].Planes[3][1] = BlankPixel;
  ASSERT_TRUE(YUVtoRGB(1));
  for (float v : PixelOf(1, 1)) EXPECT_EQ(v, BlankPixel);
}

TEST_F(ColorModels, VectorPathGivesTheScalarBits) {
  for (size_t n : {1u, 3u, 4u, 7u, 1001u}) {
    auto scalar = NoisyColourRun(n, 5), vector = scalar;
    RgbToYuvRun(scalar[0], scalar[1], scalar[2], false);
    RgbToYuvRun(vector[0], vector[1], vector[2], true);
    for (size_t p = 0; p < 3; ++p) ExpectSameBits(scalar[p], vector[p]);
    YuvToRgbRun(scalar[0], scalar[1], scalar[2], false);
    YuvToRgbRun(vector[0], vector[1], vector[2], true);
    for (size_t p = 0; p < 3; ++p) ExpectSameBits(scalar[p], vector[p]);
  }
}

TEST_F(ColorModels, SameResultOnOneThreadAndOnMany) {
  const size_t w = 640, h = 200;
  auto run = NoisyColourRun(w * h, 9);
  std::vector<TRgb> pixels(w * h);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = {run[0][i], run[1][i], run[2][i]};
  MakeColourImage(1, int(w), pixels);
  MakeColourImage(2, int(w), pixels);
  Options.Multicore = 0;
  RGBtoYUV(1);
  Options.Multicore = 1;
  RGBtoYUV(2);
  for (int p = 1; p <= 3; ++p) {
    ExpectSameBits(std::vector<float>(Store.Image[1].Planes[p].begin(), Store.Image[1].Planes[p].end()),
                   std::vector<float>(Store.Image[2].Planes[p].begin(), Store.Image[2].Planes[p].end()));
    EXPECT_EQ(Store.Image[1].PlaneMax[p], Store.Image[2].PlaneMax[p]);
  }
}

}  // namespace
}  // namespace astrelon::test
