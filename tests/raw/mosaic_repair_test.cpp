#include "store/raw/mosaic_repair.h"

#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class MosaicRepairTest : public test::StoreTest {
protected:
  // A one-plane mosaic in slot 1 with pixel values f(x, y).
  TImageSlot& Mosaic(int w, int h, uint32_t code, const std::function<float(int, int)>& f) {
    TImageSlot& im = Store.Image[1];
    Store.InUse[1] = 1;
    im.Width = w;
    im.Height = h;
    im.IsColor = 0;
    im.PlaneCount = 1;
    im.RawFilterPattern = code;
    im.AllocatePlanes(1);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) im.At(1, x, y) = f(x, y);
    return im;
  }
};

// Green on x + y even: flat green, strongly varying red and blue.
float GreenEven(int x, int y) {
  if (((x + y) & 1) == 0) return 500.0f;
  return (y & 1) == 0 ? 100.0f + 40.0f * float(x) : 900.0f - 25.0f * float(x);
}

TEST_F(MosaicRepairTest, FilterCodesGiveThePhase) {
  TImageSlot& im = Mosaic(4, 4, 0, [](int, int) { return 1.0f; });
  const std::pair<uint32_t, int> cases[] = {
      {0x94949494u, 1}, {0x16161616u, 1}, {0x49494949u, 0}, {0x61616161u, 0}, {0x12345678u, -2}, {0u, -2},
      {0xb4b4b4b4u, 1}, {0x4b4b4b4bu, 0}};  // the second green as colour 3
  for (const auto& [code, phase] : cases) {
    im.RawFilterPattern = code;
    EXPECT_EQ(FilterCodeToPhase(1), phase) << std::hex << code;
  }
  im.RawFilterPattern = 0x94949494u;
  im.IsColor = 1;
  EXPECT_EQ(FilterCodeToPhase(1), -1);
  EXPECT_EQ(DetectMosaicPhase(1), -1);
}

TEST_F(MosaicRepairTest, MeasuredPhaseWhenTheCodeIsUnknown) {
  Mosaic(8, 8, 0, GreenEven);
  double a = -1, b = -1;
  MeasureMosaicPhase(1, a, b);
  EXPECT_DOUBLE_EQ(a, 0.0);  // green to green
  EXPECT_GT(b, 100.0);
  EXPECT_EQ(DetectMosaicPhase(1), 0);
  EXPECT_EQ(DecideMosaicPhase(1), 0);

  // Shifted by one column, green lies on x + y odd.
  Mosaic(8, 8, 0, [](int x, int y) { return GreenEven(x + 1, y); });
  EXPECT_EQ(DetectMosaicPhase(1), 1);
  EXPECT_EQ(DecideMosaicPhase(1), 1);

  // A known code is never measured.
  Store.Image[1].RawFilterPattern = 0x49494949u;
  EXPECT_EQ(DetectMosaicPhase(1), 0);
}

TEST_F(MosaicRepairTest, CloseMeansAreUndecidedOrZero) {
  // |step| 1 on even classes, 1.2 on odd ones: within a factor 1.5.
  Mosaic(6, 6, 0, [](int x, int y) { return float(x) + 0.1f * float((x + y) & 1) * float(x); });
  double a, b;
  MeasureMosaicPhase(1, a, b);
  ASSERT_GT(a, 0.0);
  EXPECT_LT(std::max(a, b), 1.5 * std::min(a, b));
  EXPECT_EQ(DetectMosaicPhase(1), -1);

  Mosaic(6, 6, 0, [](int, int) { return 7.0f; });  // equal means
  EXPECT_EQ(DetectMosaicPhase(1), -1);
  EXPECT_EQ(DecideMosaicPhase(1), 0);
}

TEST_F(MosaicRepairTest, BlankPixelsAreNotMeasured) {
  TImageSlot& im = Mosaic(4, 4, 0, GreenEven);
  double a0, b0;
  MeasureMosaicPhase(1, a0, b0);
  im.At(1, 1, 1) = BlankPixel;  // would add a huge difference to both classes
  im.At(1, 2, 1) = std::nanf("");
  double a, b;
  MeasureMosaicPhase(1, a, b);
  EXPECT_LT(a, 1e3);
  EXPECT_LT(b, 1e3);
}

// A smooth bright spot on a 32 x 32 mosaic (green on x + y even), each colour
// with its own scale, clipped at 1000: green clips, red and blue keep their course.
constexpr float Saturation = 1000.0f;
double TrueValue(int x, int y) {
  const double r2 = double((x - 16) * (x - 16) + (y - 15) * (y - 15));
  const double f = 60.0 + 1300.0 * std::exp(-r2 / 120.0);
  if (((x + y) & 1) == 0) return f;
  return (y & 1) == 0 ? 0.7 * f : 0.6 * f;
}

TEST_F(MosaicRepairTest, ClippedSpotIsRebuiltFromItsSurroundings) {
  TImageSlot& im = Mosaic(32, 32, 0x49494949u, [](int x, int y) {
    return float(std::min<double>(TrueValue(x, y), Saturation));
  });
  im.At(1, 16, 15) = BlankPixel;  // in the clipped centre
  im.At(1, 22, 15) = BlankPixel;  // beside it
  const TPlane before = im.Planes[1];
  EXPECT_TRUE(RepairClippedMosaic(1, -1));
  int repaired = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const float v = im.At(1, x, y);
      const double t = TrueValue(x, y);
      const float old = before[size_t(y) * 32 + size_t(x)];
      if (!IsValidPixel(old)) {
        EXPECT_EQ(v, old) << x << "," << y;  // never repaired
        continue;
      }
      ASSERT_TRUE(std::isfinite(v)) << x << "," << y;
      if (t < 0.7 * Saturation) {
        EXPECT_EQ(v, old) << x << "," << y;
      } else if (t <= 1.03 * Saturation) {
        // Near the top of a colour: possibly counted as clipped, kept on the course.
        EXPECT_NEAR(v, t, 0.1 * t) << x << "," << y;
      } else if (t > 1.03 * Saturation) {
        // Raised above the clipping level, and not far beyond the true course.
        EXPECT_GT(v, Saturation) << x << "," << y;
        EXPECT_LT(v, 1.3 * t) << x << "," << y;
        ++repaired;
      }
    }
  EXPECT_GT(repaired, 20);
}

TEST_F(MosaicRepairTest, ImageWithoutSaturationIsUnchanged) {
  // A faint gradient and one unclipped bright pixel per colour site: the top of
  // each site is a lone pixel far above the rest.
  TImageSlot& im = Mosaic(32, 32, 0x49494949u, [](int x, int y) { return 100.0f + 3.0f * float(x + y); });
  im.At(1, 10, 10) = 900.0f;  // green
  im.At(1, 11, 10) = 950.0f;  // even-row site
  im.At(1, 10, 11) = 1000.0f; // odd-row site
  const TPlane before = im.Planes[1];
  EXPECT_FALSE(RepairClippedMosaic(1, -1));
  EXPECT_TRUE(im.Planes[1] == before);

  // A flat image has no level at all.
  TImageSlot& flat = Mosaic(16, 16, 0x49494949u, [](int, int) { return 300.0f; });
  const TPlane flatBefore = flat.Planes[1];
  EXPECT_FALSE(RepairClippedMosaic(1, 0));
  EXPECT_TRUE(flat.Planes[1] == flatBefore);
}

TEST_F(MosaicRepairTest, ColourImagesAndEmptySlotsAreLeftAlone) {
  TImageSlot& im = Mosaic(32, 32, 0x49494949u, [](int x, int y) {
    return float(std::min<double>(TrueValue(x, y), Saturation));
  });
  im.IsColor = 1;
  const TPlane before = im.Planes[1];
  EXPECT_FALSE(RepairClippedMosaic(1, -1));
  EXPECT_TRUE(im.Planes[1] == before);
  EXPECT_FALSE(RepairClippedMosaic(2, -1));
  EXPECT_FALSE(RepairClippedMosaic(-3, 0));
}

// A - B = 5 + 0.1 i over 100 entries, a bend, blank entries, short and all-blank rows.
TEST(FitQuadraticToRowDifference, FitsTheDifferenceOfTwoRows) {
  std::vector<float> a(100), b(100);
  for (int i = 0; i < 100; ++i) {
    b[size_t(i)] = float(20 + (i * 37) % 11);
    a[size_t(i)] = b[size_t(i)] + 5.0f + 0.1f * float(i);
  }
  double c0, c1, c2;
  FitQuadraticToRowDifference(a, b, c0, c1, c2);
  EXPECT_NEAR(c0, 5.0, 1e-4);
  EXPECT_NEAR(c1, 0.1, 1e-6);
  EXPECT_NEAR(c2, 0.0, 1e-8);

  // On smooth rows a blank entry takes exactly its neighbours' mean.
  for (int i = 0; i < 100; ++i) {
    b[size_t(i)] = 20.0f + 0.5f * float(i);
    a[size_t(i)] = b[size_t(i)] + 5.0f + 0.1f * float(i);
  }
  a[50] = BlankPixel;
  b[51] = std::nanf("");
  FitQuadraticToRowDifference(a, b, c0, c1, c2);
  EXPECT_NEAR(c0, 5.0, 1e-4);
  EXPECT_NEAR(c1, 0.1, 1e-6);
  EXPECT_NEAR(c2, 0.0, 1e-8);

  // A bend is found as well.
  for (int i = 0; i < 100; ++i) a[size_t(i)] = b[size_t(i)] + float(1.0 - 0.2 * i + 0.003 * i * i);
  FitQuadraticToRowDifference(a, b, c0, c1, c2);
  EXPECT_NEAR(c0, 1.0, 0.05);
  EXPECT_NEAR(c1, -0.2, 0.003);
  EXPECT_NEAR(c2, 0.003, 3e-5);

  for (const size_t n : {size_t(0), size_t(1), size_t(2)}) {
    c0 = c1 = c2 = 9;
    FitQuadraticToRowDifference(std::span(a).first(n), std::span(b).first(n), c0, c1, c2);
    EXPECT_EQ(c0, 0.0);
    EXPECT_EQ(c1, 0.0);
    EXPECT_EQ(c2, 0.0);
  }
  std::fill(a.begin(), a.end(), BlankPixel);
  FitQuadraticToRowDifference(a, b, c0, c1, c2);
  EXPECT_EQ(c0, 0.0);
  EXPECT_EQ(c1, 0.0);
  EXPECT_EQ(c2, 0.0);
}

}  // namespace
}  // namespace astrelon
