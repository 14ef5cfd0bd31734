// Colour-noise filter: grey images stay, the colour-difference planes are
// smoothed while the brightness stays, the image returns in its own colour
// model, and a threshold of 0 changes nothing.
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "filter_images.h"
#include "filters/noise/color_noise_filter.h"
#include "store/color_models.h"

namespace astrelon {
namespace {

class ColorNoise : public test::KernelTest {
protected:
  bool Run(float radius, float threshold) {
    test::MakeResult(1, 2);
    TFilterPoll poll;
    return FilterColorNoise(1, 2, test::WholeImage(1), radius, threshold, poll);
  }
  static float Luminance(int slot, size_t i) {
    const TImageSlot& im = Store.Image[size_t(slot)];
    return 0.299f * im.Planes[1][i] + 0.587f * im.Planes[2][i] + 0.114f * im.Planes[3][i];
  }
};

// Grey 500 with colour noise around it and a red square.
void ColourNoise(int slot, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> n(0, 25);
  test::MakeImage(slot, 40, 30, 3, [&](int p, int x, int y) {
    const bool red = x >= 20 && x < 30 && y >= 10 && y < 20;
    return (red ? (p == 1 ? 1500.0f : 200.0f) : 500.0f) + n(rng);
  });
  UpdateMinMax(slot);
}

double ChromaSpread(int slot) {
  const TImageSlot& im = Store.Image[size_t(slot)];
  double s = 0;
  for (int y = 2; y < 8; ++y)
    for (int x = 2; x < 18; ++x) {
      const size_t i = size_t(y * 40 + x);
      s += std::fabs(im.Planes[1][i] - im.Planes[3][i]);
    }
  return s;
}

TEST_F(ColorNoise, SmoothsColourAndKeepsBrightness) {
  ColourNoise(1, 3);
  ASSERT_TRUE(Run(3, 60));
  EXPECT_EQ(Store.Image[2].ColorModel, CmRgb);
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  for (size_t i = 0; i < Store.Image[1].PixelCount(); ++i)
    ASSERT_NEAR(Luminance(2, i), Luminance(1, i), 2e-3f) << i;
  EXPECT_LT(ChromaSpread(2), 0.5 * ChromaSpread(1));
  // The red square keeps its colour: its neighbours differ by far more than the threshold.
  EXPECT_NEAR(Store.Image[2].At(1, 25, 15), Store.Image[1].At(1, 25, 15), 60);
  // Threshold 0 counts no neighbour: the image comes back as it was, to float rounding.
  ASSERT_TRUE(Run(3, 0));
  for (int p = 1; p <= 3; ++p)
    for (size_t i = 0; i < Store.Image[1].PixelCount(); ++i)
      ASSERT_NEAR(Store.Image[2].Planes[size_t(p)][i], Store.Image[1].Planes[size_t(p)][i], 1e-2f);
}

TEST_F(ColorNoise, GreyImagesAndYuvImagesStayInTheirModel) {
  test::MakeGrey(1, 10, 8, [](int x, int y) { return float(x * y); });
  ASSERT_TRUE(Run(3, 50));
  EXPECT_TRUE(std::equal(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(),
                         Store.Image[2].Planes[1].begin()));
  ColourNoise(1, 4);
  RGBtoYUV(1);
  ASSERT_TRUE(Run(3, 30));
  EXPECT_EQ(Store.Image[2].ColorModel, CmYuv);
  // In YUV plane 1 is the brightness itself and is not touched.
  EXPECT_TRUE(std::equal(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end(),
                         Store.Image[2].Planes[1].begin()));
}

}  // namespace
}  // namespace astrelon
