// The brightest box of the working rectangle and the running match quality.
#include <random>

#include "../pixelops/slot_images.h"
#include "kernels/alignment/brightest_in_work_rect.h"
#include "kernels/alignment/match_quality.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class BrightestInWorkRectTest : public StoreTest {
protected:
  // A grey w x h image of zeros in slot 1.
  static TImageSlot& Image(int w, int h) {
    TImageSlot& im = Store.Image[1];
    im.Width = w;
    im.Height = h;
    im.AllocatePlanes(1);
    Store.InUse[1] = 1;
    return im;
  }
};

TEST_F(BrightestInWorkRectTest, ClipsTheRectangleAndGivesImageCoordinates) {
  TImageSlot& im = Image(8, 6);
  im.At(1, 6, 4) = 90;  // a single hot pixel loses against a bright 3 x 3 patch
  for (int y = 1; y <= 3; ++y)
    for (int x = 2; x <= 4; ++x) im.At(1, x, y) = 50;
  WorkRect = {-3, 20, -1, 9};
  TBrightestInRect b = FindBrightestInWorkRect(1, 1, 1);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 7);
  EXPECT_EQ(WorkRect.y1, 0);
  EXPECT_EQ(WorkRect.y2, 5);
  EXPECT_EQ(b.BrightestX, 3);
  EXPECT_EQ(b.BrightestY, 2);
  EXPECT_DOUBLE_EQ(b.BrightestValue, 50);
  // Box radius 0 in a rectangle around the hot pixel.
  WorkRect = {5, 7, 3, 5};
  b = FindBrightestInWorkRect(1, 1, 0);
  EXPECT_EQ(b.BrightestX, 6);
  EXPECT_EQ(b.BrightestY, 4);
  EXPECT_DOUBLE_EQ(b.BrightestValue, 90);
  // A plane the image lacks: the rectangle's corner and -1e9.
  b = FindBrightestInWorkRect(1, 2, 0);
  EXPECT_EQ(b.BrightestX, 5);
  EXPECT_DOUBLE_EQ(b.BrightestValue, BlankLimit);
}

TEST_F(BrightestInWorkRectTest, BandsOnThreadsFindTheSameBox) {
  // Small integer values give many boxes of equal mean: the first in row order wins.
  TImageSlot& im = Image(1200, 1000);
  std::mt19937 rng(9);
  for (float& v : im.Planes[1]) v = rng() % 50 == 0 ? BlankPixel : float(rng() % 6);
  for (int32_t radius : {0, 1, 2}) {
    TBrightestInRect one, many;
    {
      test::MulticoreGuard off(false);
      WorkRect = {3, 1190, 2, 997};
      one = FindBrightestInWorkRect(1, 1, radius);
    }
    test::MulticoreGuard on(true);
    WorkRect = {3, 1190, 2, 997};
    many = FindBrightestInWorkRect(1, 1, radius);
    EXPECT_EQ(one.BrightestX, many.BrightestX) << radius;
    EXPECT_EQ(one.BrightestY, many.BrightestY) << radius;
    EXPECT_EQ(one.BrightestValue, many.BrightestValue) << radius;
  }
}

TEST(MatchQuality, KeepsTheLowestQuality) {
  MatchQuality = 99.0;
  LowerMatchQuality(40);
  LowerMatchQuality(70);
  EXPECT_EQ(MatchQuality, 40);
  MatchQuality = 99.0;
}

}  // namespace
}  // namespace astrelon::test
