// The TIFF reader measures minimum and maximum while it converts the strips (on
// bands of threads for large files): the figures, the clamped pixels, the display
// range and the histogram must be what the separate passes give, with one thread
// or many.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "core/settings.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/tiff/tiff_reader.h"
#include "test_support.h"
#include "tiff_test_files.h"

namespace astrelon::test {
namespace {

// Over a million pixels, so that the strips are read on several threads.
constexpr uint32_t W = 1030, H = 1024;

class TiffLoadFigures : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
    Options.GammaAdjust = 1;
  }
  void TearDown() override {
    Options = saved_;
    StoreTest::TearDown();
  }
  // Loads the file into slot 1 with one thread and into slot 2 with many, and
  // checks both against each other and against the separate passes.
  void ExpectSameFiguresBothWays(const std::string& file) {
    Options.Multicore = 0;
    ASSERT_TRUE(LoadTiffImage(1, file));
    Options.Multicore = 1;
    ASSERT_TRUE(LoadTiffImage(2, file));
    const TImageSlot& a = Store.Image[1];
    const TImageSlot& b = Store.Image[2];
    ASSERT_EQ(a.PlaneCount, b.PlaneCount);
    for (int p = 1; p <= a.PlaneCount; ++p)
      EXPECT_EQ(std::memcmp(a.Planes[p].data(), b.Planes[p].data(), a.PixelCount() * sizeof(float)), 0) << p;
    EXPECT_EQ(a.PlaneMin, b.PlaneMin);
    EXPECT_EQ(a.PlaneMax, b.PlaneMax);
    EXPECT_EQ(a.MinValue, b.MinValue);
    EXPECT_EQ(a.MaxValue, b.MaxValue);
    EXPECT_EQ(Store.Display[1].Black, Store.Display[2].Black);
    EXPECT_EQ(Store.Display[1].White, Store.Display[2].White);
    EXPECT_EQ(Store.Display[1].Gamma, Store.Display[2].Gamma);
    EXPECT_EQ(Store.Display[1].Histogram, Store.Display[2].Histogram);

    // The separate pass finds the same figures and nothing left to clamp.
    const TImageSlot loaded = b;
    UpdateMinMax(2);
    EXPECT_EQ(b.PlaneMin, loaded.PlaneMin);
    EXPECT_EQ(b.PlaneMax, loaded.PlaneMax);
    EXPECT_EQ(b.MinValue, loaded.MinValue);
    EXPECT_EQ(b.MaxValue, loaded.MaxValue);
    for (int p = 1; p <= b.PlaneCount; ++p)
      EXPECT_EQ(std::memcmp(b.Planes[p].data(), loaded.Planes[p].data(), b.PixelCount() * sizeof(float)), 0) << p;
    const auto histogram = Store.Display[2].Histogram;
    ComputeHistogram(2, false, false);
    EXPECT_EQ(Store.Display[2].Histogram, histogram);
  }

  TempDir dir_;
  TProgramOptions saved_;
};

TEST_F(TiffLoadFigures, FloatSamplesWithHugeNegativeAndNanValues) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0.1f, 0.9f);
  std::vector<float> v(size_t(W) * H);
  for (float& x : v) x = u(rng);
  v[17] = std::numeric_limits<float>::quiet_NaN();
  v[size_t(W) * 900 + 3] = 1e20f;                                 // above 1e17 once scaled: clamped
  v[size_t(W) * 600 + 9] = -1e20f;                                // blank once scaled
  v[size_t(W) * 1000 + 1] = std::numeric_limits<float>::infinity();  // blank
  v[size_t(W) * 300 + 7] = -0.001f;                               // the minimum, in a middle band
  TTestTiff t;
  t.Width = W;
  t.Height = H;
  t.Bits = 32;
  t.SampleFormat = SAMPLEFORMAT_IEEEFP;
  t.RowsPerStrip = 16;
  t.Data = Bytes(v);
  const std::string f = dir_.file("float.tif");
  ASSERT_TRUE(WriteTestTiff(f, t));
  ExpectSameFiguresBothWays(f);
  EXPECT_EQ(Store.Image[2].MaxValue, 1e17f);
  EXPECT_EQ(Store.Image[2].MinValue, -0.001f * 65536.0f);
  EXPECT_EQ(Store.Image[2].At(1, 3, 900), 1e17f);
  EXPECT_EQ(Store.Image[2].At(1, 1, 1000), BlankPixel);
}

TEST_F(TiffLoadFigures, SixteenBitRgb) {
  std::mt19937 rng(6);
  std::uniform_int_distribution<int> u(1000, 50000);
  std::vector<uint16_t> v(size_t(W) * H * 3);
  for (uint16_t& x : v) x = uint16_t(u(rng));
  v[size_t(W) * 3 * 700 + 4] = 7;  // green's minimum
  TTestTiff t;
  t.Width = W;
  t.Height = H;
  t.Samples = 3;
  t.Photometric = PHOTOMETRIC_RGB;
  t.RowsPerStrip = 5;
  t.Data = Bytes(v);
  const std::string f = dir_.file("rgb16.tif");
  ASSERT_TRUE(WriteTestTiff(f, t));
  ExpectSameFiguresBothWays(f);
  EXPECT_EQ(Store.Image[2].PlaneMin[2], 7.0f);
  EXPECT_EQ(Store.Display[2].White, 65535.0f);
}

}  // namespace
}  // namespace astrelon::test
