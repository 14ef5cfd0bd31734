// XYZ to RGB and the camera profile of a RAW image's colours.
#include "pixelops/colour/camera_profile.h"

#include <cmath>

#include <gtest/gtest.h>

#include "colour_images.h"
#include "pixelops/colour/xyz_to_rgb.h"
#include "platform/processor_features.h"
#include "store/color_models.h"

namespace astrelon::test {
namespace {

using CameraProfile = ColourTest;

void SetCamera(int slot, const std::string& name) { AppendHeaderCard(slot, QuotedCard("INSTRUME= ", name)); }

// The display mapping of ConvertXyzToRgb for one pixel, written out once more.
TRgb XyzToRgb(const std::array<double, 3>& v, double b, double r) {
  const double x = (v[0] - b) * 0.95047 / r, y = (v[1] - b) / r, z = (v[2] - b) * 1.08883 / r;
  const double lin[3] = {3.240479 * x - 1.53715 * y - 0.498535 * z, -0.969256 * x + 1.875992 * y + 0.041556 * z,
                         0.055648 * x - 0.204043 * y + 1.057311 * z};
  TRgb out;
  for (size_t c = 0; c < 3; ++c) out[c] = float((lin[c] > 0 ? std::sqrt(lin[c]) : lin[c]) * r + b);
  return out;
}

TEST_F(CameraProfile, XyzToRgbKeepsWhiteCompressesAndKeepsNegativeSigns) {
  // Minimum 10 > 0: b = 0, r = 100.
  MakeColourImage(1, 4, {{100, 100, 100}, {25, 25, 25}, {10, 100, 10}, {50, BlankPixel, 50}});
  ASSERT_TRUE(ConvertXyzToRgb(1, false));
  for (float v : PixelOf(1, 0)) EXPECT_NEAR(v, 100.0f, 0.02);
  for (float v : PixelOf(1, 1)) EXPECT_NEAR(v, 50.0f, 0.01);
  const TRgb green = PixelOf(1, 2), expected = XyzToRgb({10, 100, 10}, 0, 100);
  EXPECT_LT(green[0], 0.0f);  // negative linear red, not square-rooted
  for (size_t c = 0; c < 3; ++c) EXPECT_CLOSE(green[c], expected[c], 1e-3);
  EXPECT_EQ(PixelOf(1, 3), (TRgb{50, BlankPixel, 50}));  // a blank plane leaves the pixel
  EXPECT_FLOAT_EQ(Store.Image[1].MinValue, green[0]);
  EXPECT_EQ(Store.Display[1].DisplayType, DtColorRgb);
}

TEST_F(CameraProfile, XyzToRgbWithNegativeMinimumAndDisplayPoints) {
  MakeColourImage(1, 2, {{-20, 0, 40}, {80, 60, 30}});  // b = -20, r = 100
  Store.Display[1].Black = 5;
  Store.Display[1].White = 55;
  ASSERT_TRUE(ConvertXyzToRgb(1, true));
  const TRgb a = PixelOf(1, 1), e = XyzToRgb({80, 60, 30}, -20, 100);
  for (size_t c = 0; c < 3; ++c) EXPECT_CLOSE(a[c], e[c], 1e-3);
  EXPECT_CLOSE(Store.Display[1].Black, 0.5 * 100 - 20, 1e-4);           // sqrt(25/100)
  EXPECT_CLOSE(Store.Display[1].White, std::sqrt(0.75) * 100 - 20, 1e-4);  // sqrt(75/100)

  MakeColourImage(2, 1, {{0, 0, 0}});  // no range: left alone
  EXPECT_FALSE(ConvertXyzToRgb(2, false));
  EXPECT_EQ(PixelOf(2, 0), (TRgb{0, 0, 0}));
}

TEST_F(CameraProfile, VectorPathsGiveTheScalarBits) {
  ASSERT_TRUE(LookupCameraMatrix("Canon EOS 5D Mark II"));
  const bool savedAvx2 = Avx2Enabled;
  // The widest loops the processor has, then the four-wide ones.
  for (bool wide : {true, false})
    for (size_t n : {1u, 4u, 6u, 999u}) {
      Avx2Enabled = wide;
      auto scalar = NoisyColourRun(n, 3), vector = scalar;
      ApplyCameraMatrixRun(scalar[0], scalar[1], scalar[2], CameraProfileMatrix, false);
      ApplyCameraMatrixRun(vector[0], vector[1], vector[2], CameraProfileMatrix, true);
      for (size_t p = 0; p < 3; ++p) ExpectSameBits(scalar[p], vector[p]);
      for (size_t i = 11; i < n; i += 101) EXPECT_EQ(scalar[0][i], BlankPixel);
      if (n > 7) {
        EXPECT_EQ(scalar[2][7], BlankPixel);  // the NaN pixel
      }
      XyzToRgbRun(scalar[0], scalar[1], scalar[2], -1000.0, 41000.0, false);
      XyzToRgbRun(vector[0], vector[1], vector[2], -1000.0, 41000.0, true);
      for (size_t p = 0; p < 3; ++p) ExpectSameBits(scalar[p], vector[p]);
    }
  Avx2Enabled = savedAvx2;
}

TEST_F(CameraProfile, KnownCameraTurnsCameraColoursIntoDisplayRgb) {
  const std::vector<TRgb> raw = {{1000, 2000, 1500}, {300, 900, 200}, {BlankPixel, 50, 60}, {4000, 3500, 3000}};
  MakeColourImage(1, 2, raw);
  SetCamera(1, "Canon EOS 5D Mark II");
  RGBtoYUV(1);  // a YUV image goes back to RGB first
  ASSERT_TRUE(ApplyCameraProfile(1, false));
  ASSERT_TRUE(LookupCameraMatrix("Canon EOS 5D Mark II"));
  const TMatrix3& m = CameraProfileMatrix;
  std::vector<std::array<double, 3>> xyz;
  double lo = 1e30, hi = -1e30;
  for (const TRgb& p : raw) {
    if (p[0] == BlankPixel) continue;
    std::array<double, 3> v{};
    for (size_t r = 0; r < 3; ++r) v[r] = m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2];
    for (double c : v) lo = std::min(lo, c), hi = std::max(hi, c);
    xyz.push_back(v);
  }
  const double b = std::min(lo, 0.0);
  const TRgb e0 = XyzToRgb(xyz[0], b, hi - b), e3 = XyzToRgb(xyz[2], b, hi - b);
  for (size_t c = 0; c < 3; ++c) {
    EXPECT_NEAR(PixelOf(1, 0)[c], e0[c], 0.05);  // the YUV round trip costs float rounding
    EXPECT_NEAR(PixelOf(1, 3)[c], e3[c], 0.05);
  }
  EXPECT_EQ(PixelOf(1, 2), (TRgb{BlankPixel, BlankPixel, BlankPixel}));
  EXPECT_EQ(Store.Image[1].ColorModel, CmRgb);
  const auto cards = Store.Header[1].ActiveCards();
  EXPECT_NE(std::find_if(cards.begin(), cards.end(),
                         [](const std::string& c) { return c.find("Kamera RAW-Farben nach RGB") != std::string::npos; }),
            cards.end());
}

TEST_F(CameraProfile, GreyImageOrUnknownCameraChangesNothing) {
  MakeColourImage(1, 1, {{1, 2, 3}});
  SetCamera(1, "Foo");
  const auto header = Store.Header[1].ActiveCards();
  EXPECT_FALSE(ApplyCameraProfile(1, true));
  EXPECT_EQ(PixelOf(1, 0), (TRgb{1, 2, 3}));
  EXPECT_EQ(Store.Header[1].ActiveCards(), header);
  Store.Image[1].IsColor = 0;
  Store.Image[1].PlaneCount = 1;
  EXPECT_FALSE(ApplyCameraProfile(1, true));
  EXPECT_FALSE(ApplyCameraProfile(0, true));
  EXPECT_EQ(EngineUi().Messages,
            (std::vector<std::string>{"Das Farbprofil oder die Kamera [INSTRUME] ist nicht vorhanden.",
                                      "Das Bild muss in Farbe sein.", "Das Bild muss in Farbe sein."}));
}

}  // namespace
}  // namespace astrelon::test
