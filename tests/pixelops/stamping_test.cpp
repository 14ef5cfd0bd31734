// Arrows and coverage masks merged into images: the arrow's box and colour, the
// block reductions, transparency, blank pixels, clipping at the image edge and
// the undo step each stamp leaves.
#include <algorithm>

#include "pixelops/stamping/line_arrow.h"
#include "pixelops/stamping/stamp_bitmap.h"
#include "pixelops/stamping/thick_line.h"
#include "shell/undo/undo_store.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int32_t Red = 0x0000FF;

class Stamping : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    ClearUndoStore();
  }
  void TearDown() override {
    ClearUndoStore();
    StoreTest::TearDown();
  }
  // A grey w x h image of one value, display range 0..255.
  static void Grey(int slot, int w, int h, float value) {
    MakeImage(slot, w, h, {std::vector<float>(size_t(w * h), value)});
    Store.Display[size_t(slot)].Black = 0;
    Store.Display[size_t(slot)].White = 255;
  }
  static float Px(int slot, int p, int x, int y) { return Store.Image[size_t(slot)].At(p, x, y); }
};

TEST_F(Stamping, ArrowOnGreyImage) {
  Grey(1, 200, 50, 100);
  const std::vector<float> before = PlaneValues(1, 1);
  DrawLineArrow(1, 10, 10, 110, 10, {Red, 10, false});
  EXPECT_FLOAT_EQ(Px(1, 1, 60, 10), 76.5f);  // the grey of red: 0.3 x 255
  EXPECT_FLOAT_EQ(Px(1, 1, 60, 30), 100.0f);
  int changed = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 200; ++x) {
      if (Px(1, 1, x, y) == 100.0f) continue;
      ++changed;
      EXPECT_TRUE(x >= 4 && x <= 134 && y >= 4 && y <= 34) << x << "," << y;
    }
  EXPECT_GT(changed, 100);
  // The tip is ink, the space beyond it is not.
  EXPECT_LT(Px(1, 1, 108, 10), 100.0f);
  EXPECT_FLOAT_EQ(Px(1, 1, 125, 10), 100.0f);
  EXPECT_EQ(Store.Image[1].DataChanged, 1);
  EXPECT_EQ(UndoList.size(), 1u);
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(PlaneValues(1, 1), before);
}

TEST_F(Stamping, ShortArrowAndArrowLeavingTheImage) {
  Grey(1, 40, 30, 100);
  DrawLineArrow(1, 10, 10, 13, 14, {Red, 10, false});  // 5 pixels long
  EXPECT_TRUE(UndoList.empty());
  EXPECT_EQ(PlaneValues(1, 1), std::vector<float>(1200, 100.0f));
  // An arrow pointing out of the image only changes pixels inside it.
  DrawLineArrow(1, 20, 15, 90, -40, {Red, 10, false});
  EXPECT_EQ(UndoList.size(), 1u);
  EXPECT_LT(Px(1, 1, 20, 15), 100.0f);
  EXPECT_EQ(Store.Image[1].PlaneCount, 1);
  EXPECT_EQ(Store.Image[1].Planes[1].size(), 1200u);
}

TEST_F(Stamping, ThickLineCoverage) {
  // Diameter 3.4: full ink up to 1.2 from the line, then a one-pixel ramp.
  TByteMask m(20, 9);
  DrawThickLine(m, 2, 4, 3.4, 4, 17);
  EXPECT_EQ(m.At(10, 4), 255);
  EXPECT_EQ(m.At(10, 5), 255);
  EXPECT_EQ(m.At(10, 6), 51);  // 255 - round(255 x 0.8)
  EXPECT_EQ(m.At(10, 7), 0);
  EXPECT_EQ(m.At(19, 4), 51);  // stepping ends at the end point (17)
  EXPECT_EQ(m.At(18, 4), 255);
  // A zero-length line paints one disc: the centre and its four neighbours full.
  TByteMask dot(9, 9);
  DrawThickLine(dot, 4, 4, 3, 4, 4);
  EXPECT_EQ(std::count(dot.Bytes.begin(), dot.Bytes.end(), uint8_t(255)), 5);
  EXPECT_EQ(dot.At(5, 5), 149);  // 255 - round(255 x (sqrt 2 - 1))
}

TEST_F(Stamping, MergeTransparencyBlankAndColour) {
  // Full ink 2 x 2 at scale 1 in the corner; half transparent.
  Grey(1, 4, 3, 200);
  Store.Image[1].At(1, 1, 1) = -1e11f;
  TByteMask full(2, 2);
  std::fill(full.Bytes.begin(), full.Bytes.end(), uint8_t(255));
  StampBitmapIntoImage(1, 0, 0, 0.5, true, false, false, full, 1, {0xFFFFFF, 10, false});
  EXPECT_FLOAT_EQ(Px(1, 1, 0, 0), 227.5f);  // midpoint of 255 and 200
  EXPECT_FLOAT_EQ(Px(1, 1, 1, 1), 127.5f);  // a blank old pixel counts as black (0)
  EXPECT_FLOAT_EQ(Px(1, 1, 2, 0), 200.0f);
  // A 4x bitmap reduced by 4 x 4 means: half the bytes inked gives half the ink.
  MakeImage(2, 3, 3, {std::vector<float>(9, 0), std::vector<float>(9, 0), std::vector<float>(9, 0)});
  Store.Display[2].Black = 10, Store.Display[2].White = 265;
  TByteMask big(4, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) big.At(x, y) = 255;
  StampBitmapIntoImage(2, 1, 1, 1.0, false, false, false, big, 4, {0x4080FF | 0x01000000, 10, false});
  EXPECT_FLOAT_EQ(Px(2, 1, 1, 1), 0.5f * (255 + 10));
  EXPECT_FLOAT_EQ(Px(2, 2, 1, 1), 0.5f * (128 + 10));
  EXPECT_FLOAT_EQ(Px(2, 3, 1, 1), 0.5f * (64 + 10));
  EXPECT_FLOAT_EQ(Px(2, 1, 0, 0), 0.0f);
}

TEST_F(Stamping, TopLeftCornerShadowAndUndo) {
  Grey(1, 30, 30, 150);
  const std::vector<float> before = PlaneValues(1, 1);
  TByteMask text(40, 40);
  for (int y = 8; y < 32; ++y)
    for (int x = 8; x < 32; ++x) text.At(x, y) = 255;
  // Smooth 3D text at 20 points, stamped with its box partly above and left of the image.
  StampBitmapIntoImage(1, -5, -5, 0.5, false, true, true, text, 4, {0xFFFFFF, 20, false});
  EXPECT_EQ(Store.Image[1].Planes[1].size(), 900u);
  EXPECT_NE(PlaneValues(1, 1), before);
  // The shadow darkens below and left of the ink, never below black.
  const auto& p = Store.Image[1].Planes[1];
  EXPECT_GE(*std::min_element(p.begin(), p.end()), 0.0f);
  EXPECT_LT(Px(1, 1, 0, 4), 150.0f);
  EXPECT_FLOAT_EQ(Px(1, 1, 20, 4), 150.0f);
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(PlaneValues(1, 1), before);
}

TEST_F(Stamping, YuvImageTakesTheColourInRgb) {
  MakeImage(1, 2, 1, {{0, 0}, {0, 0}, {0, 0}});
  Store.Image[1].ColorModel = CmYuv;
  Store.Display[1].Black = 0, Store.Display[1].White = 255;
  TByteMask one(1, 1);
  one.At(0, 0) = 255;
  StampBitmapIntoImage(1, 0, 0, 1.0, false, false, false, one, 1, {Red, 10, false});
  // Red (255, 0, 0) in YUV.
  EXPECT_NEAR(Px(1, 1, 0, 0), 0.299 * 255, 1e-3);
  EXPECT_NEAR(Px(1, 2, 0, 0), 0.493 * (0 - 0.299 * 255), 1e-3);
  EXPECT_NEAR(Px(1, 3, 0, 0), 0.877 * (255 - 0.299 * 255), 1e-3);
}

}  // namespace
}  // namespace astrelon::test
