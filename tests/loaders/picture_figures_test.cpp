// Picture loads measure each plane's minimum and maximum while they convert the
// rows: the figures, display range and histogram must be those of the separate
// passes, with and without the conversion threads.
#include <gtest/gtest.h>

#include "loader_fixture.h"
#include "store/display/display_histogram.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"

namespace astrelon::test {
namespace {

void ExpectSameFigures(int a, int b) {
  const TImageSlot& x = Store.Image[a];
  const TImageSlot& y = Store.Image[b];
  EXPECT_EQ(x.PlaneMin, y.PlaneMin);
  EXPECT_EQ(x.PlaneMax, y.PlaneMax);
  EXPECT_EQ(x.MinValue, y.MinValue);
  EXPECT_EQ(x.MaxValue, y.MaxValue);
  EXPECT_EQ(Store.Display[a].Black, Store.Display[b].Black);
  EXPECT_EQ(Store.Display[a].White, Store.Display[b].White);
  EXPECT_EQ(Store.Display[a].RangeLow, Store.Display[b].RangeLow);
  EXPECT_EQ(Store.Display[a].RangeHigh, Store.Display[b].RangeHigh);
  EXPECT_EQ(Store.Display[a].Histogram, Store.Display[b].Histogram);
}

TEST_F(LoaderTest, PictureLoadsMeasureWhatThePassesMeasure) {
  const size_t saved = PictureWorkerThreshold;
  // Grey and colour, 8 and 16 bits, and alpha that blanks pixels.
  const char* files[] = {"libjpeg-turbo/testorig.jpg", "pngsuite/basn6a16.png", "pngsuite/basn4a16.png",
                         "pngsuite/basn0g08.png", "pngsuite/basn2c16.png", "pngsuite/basi2c08.png"};
  for (const char* f : files) {
    SCOPED_TRACE(f);
    PictureWorkerThreshold = 4000000;
    ASSERT_TRUE(LoadImageFile(1, DataFile(f)));
    PictureWorkerThreshold = 1;
    ASSERT_TRUE(LoadImageFile(2, DataFile(f)));
    ExpectSameFigures(1, 2);
    // The same load, measured afterwards by the separate passes.
    ASSERT_TRUE(LoadImageFile(3, DataFile(f)));
    ResetDisplayRange(3, Store.Display[3].White);
    ComputeHistogram(3, false, false);
    ExpectSameFigures(1, 3);
    Store.Reset();
  }
  PictureWorkerThreshold = saved;
}

// A picture whose pixels all sit at the top of the range moves white above it:
// the histogram is that of the final axis.
TEST_F(LoaderTest, PictureAtTheTopOfItsRangeIsCountedOnItsOwnAxis) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    TPicture picture;
    picture.Format.Width = 5;
    picture.Format.Height = 4;
    picture.Format.Channels = 1;
    picture.Format.BitDepth = bits;
    picture.Samples8.assign(20, 255);
    picture.Samples16.assign(20, 65535);
    ASSERT_TRUE(GraphicToSlot(picture, 1, false));
    const auto loaded = Store.Display[1].Histogram;
    EXPECT_GT(Store.Display[1].White, bits == 8 ? 255.0f : 65535.0f);
    ComputeHistogram(1, false, false);
    EXPECT_EQ(Store.Display[1].Histogram, loaded);
    EXPECT_EQ(Store.Display[1].Histogram[0][501], 20u);
  }
}

}  // namespace
}  // namespace astrelon::test
