// Camera RAW loads measure minimum and maximum while they transfer the rows (on
// bands of threads for large images): the figures and the display range must be
// those of the separate passes, with one thread or many.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "raw_fixture.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"
#include "store/raw/camera_raw.h"

namespace astrelon::test {
namespace {

class RawLoadFigures : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    saved_ = Options;
  }
  void TearDown() override {
    Options = saved_;
    StoreTest::TearDown();
  }
  TempDir dir_;
  TProgramOptions saved_;
};

TEST_F(RawLoadFigures, MosaicAndInterpolatedLoadsMeasureWhatThePassesMeasure) {
  // Over a million pixels, so that the rows are transferred on several threads.
  TDngLayout s = StandardDng();
  s.Width = 1032;
  s.Height = 1024;
  s.Cfa = MakeTestMosaic(s.Width, s.Height, 1100, 9000, 3);
  s.Cfa[size_t(700) * 1032 + 11] = 1030;  // near the black level, in a late band
  const std::string file = dir_.file("big.dng");
  ASSERT_TRUE(WriteDng(file, s));
  for (bool interpolate : {false, true}) {
    SCOPED_TRACE(interpolate ? "interpolated" : "mosaic");
    Options.Multicore = 0;
    ASSERT_TRUE(LoadCameraRaw(1, file, interpolate, false, false));
    Options.Multicore = 1;
    ASSERT_TRUE(LoadCameraRaw(2, file, interpolate, false, false));
    const TImageSlot& a = Store.Image[1];
    TImageSlot& b = Store.Image[2];
    for (int p = 1; p <= a.PlaneCount; ++p) EXPECT_EQ(a.Planes[p], b.Planes[p]);
    EXPECT_EQ(a.PlaneMin, b.PlaneMin);
    EXPECT_EQ(a.PlaneMax, b.PlaneMax);
    EXPECT_EQ(Store.Display[1].Black, Store.Display[2].Black);
    EXPECT_EQ(Store.Display[1].White, Store.Display[2].White);
    EXPECT_EQ(Store.Display[1].Histogram, Store.Display[2].Histogram);
    const TImageSlot loaded = b;
    UpdateMinMax(2);
    EXPECT_EQ(b.PlaneMin, loaded.PlaneMin);
    EXPECT_EQ(b.PlaneMax, loaded.PlaneMax);
    EXPECT_EQ(b.MinValue, loaded.MinValue);
    EXPECT_EQ(b.MaxValue, loaded.MaxValue);
  }
}

}  // namespace
}  // namespace astrelon::test
