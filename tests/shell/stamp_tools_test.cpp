// The stamp and the copy stamp: weights of the disc, the five blend modes with
// blanks, what is saved for undo, strokes that cross themselves and sources that
// lie partly outside their image.
#include <cmath>

#include "shell/stamps/copy_stamp.h"
#include "shell/stamps/stamp_blend.h"
#include "shell/stamps/stamp_size.h"
#include "shell/undo/undo_store.h"
#include "shell/windows/image_window_state.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

constexpr float Blank = -1e11f;

class StampTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    ResetImageWindowState();
    ClearUndoStore();
  }
  void TearDown() override {
    ClearUndoStore();
    ResetImageWindowState();
    test::StoreTest::TearDown();
  }
  static void Flat(int slot, int w, int h, float v, int planes = 1) {
    test::MakeImage(slot, w, h, std::vector<std::vector<float>>(size_t(planes), std::vector<float>(size_t(w * h), v)));
  }
  static float& Pixel(int slot, int x, int y, int p = 1) { return Store.Image[slot].Planes[p][size_t(y * Store.Image[slot].Width + x)]; }
  // A picked cutout of value v everywhere, its minimum `minimum`.
  static TStarCutout Cutout(float v, float minimum) {
    TStarCutout c;
    for (auto& plane : c.Planes) plane.fill(v);
    c.MinValue = minimum;
    c.Analysed = 1;
    return c;
  }
};

TEST_F(StampTest, WeightsAndBlendModes) {
  const int32_t r2 = StampRadiusSquaredOf(7);
  EXPECT_EQ(r2, 16);
  EXPECT_FLOAT_EQ(StampWeight(4, r2), 0.9375f);
  struct Case {
    TStampMode mode;
    float target, expected;
  };
  // Offset (2, 0): source 100, stamp minimum 20.
  const Case cases[] = {
      {TStampMode::Paste, 0, 93.75f},   {TStampMode::Paste, Blank, 100},  {TStampMode::Max, 0, 93.75f},
      {TStampMode::Max, 200, 200},      {TStampMode::Min, 200, 106.25f},  {TStampMode::Min, 0, 0},
      {TStampMode::Min, Blank, 100},    {TStampMode::Add, 10, 85},        {TStampMode::Add, Blank, Blank},
      {TStampMode::Sub, 10, -65},       {TStampMode::Sub, Blank, Blank},
  };
  for (const Case& c : cases) {
    Flat(1, 9, 9, c.target);
    ApplyStamp(1, 4, 4, c.mode, Cutout(100, 20), r2);
    EXPECT_FLOAT_EQ(Pixel(1, 6, 4), c.expected) << int(c.mode) << " on " << c.target;
  }
}

TEST_F(StampTest, StampSavesItsSquareAndUndoRestoresIt) {
  Flat(1, 10, 10, 5);
  for (int i = 0; i < 100; ++i) Store.Image[1].Planes[1][size_t(i)] = float(i);
  const auto before = test::PlaneValues(1, 1);
  ApplyStamp(1, 1, 8, TStampMode::Paste, Cutout(100, 0), StampRadiusSquaredOf(7));
  ASSERT_EQ(UndoList.size(), 1u);
  const TUndoEntry& e = UndoEntries[size_t(UndoList.back())];
  EXPECT_EQ(e.X1, 0);
  EXPECT_EQ(e.X2, 5);
  EXPECT_EQ(e.Y1, 4);
  EXPECT_EQ(e.Y2, 9);
  EXPECT_FLOAT_EQ(Pixel(1, 1, 8), 100);
  EXPECT_FLOAT_EQ(Pixel(1, 1, 4), before[41]);  // d2 = 16 is outside the disc
  EXPECT_EQ(Store.Image[1].DataChanged, 1);
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(test::PlaneValues(1, 1), before);
}

TEST_F(StampTest, NothingWithoutAPickOrASource) {
  Flat(1, 10, 10, 5);
  TStarCutout c = Cutout(100, 0);
  c.Analysed = 0;
  ApplyStamp(1, 5, 5, TStampMode::Paste, c, 16);
  StartStampPath({5, 5});
  EXPECT_FALSE(ApplyCopyStamp(1, TStampMode::Paste, false, 16));
  EXPECT_TRUE(UndoList.empty());
  EXPECT_FLOAT_EQ(Pixel(1, 5, 5), 5);
  // A source whose image was closed is forgotten.
  CopySourceSlot = 2;
  EXPECT_FALSE(ApplyCopyStamp(1, TStampMode::Paste, false, 16));
  EXPECT_EQ(CopySourceSlot, -1);
}

TEST_F(StampTest, StrokePositionsWalkEverySegment) {
  const std::vector<TPointI> path{{0, 0}, {3, 1}, {3, 1}, {3, -1}};
  const auto pos = StampPositions(path);
  const std::vector<std::pair<int, int>> expected{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {3, 0}, {3, -1}};
  ASSERT_EQ(pos.size(), expected.size());
  for (size_t i = 0; i < pos.size(); ++i) {
    EXPECT_EQ(pos[i].X, expected[i].first) << i;
    EXPECT_EQ(pos[i].Y, expected[i].second) << i;
  }
}

TEST_F(StampTest, CrossingStrokeWritesEachPixelOnceWithItsLargestWeight) {
  // Source 100, target 0: a pixel written twice would exceed the single blend.
  Flat(1, 30, 30, 0);
  Flat(2, 30, 30, 100);
  CopySourceSlot = 2;
  CopySourcePoint = {15, 5};
  const int32_t r2 = StampRadiusSquaredOf(7);
  StartStampPath({15, 5});
  for (TPointI p : {TPointI{15, 25}, TPointI{5, 15}, TPointI{25, 15}}) AppendStampPoint(p);
  ASSERT_TRUE(ApplyCopyStamp(1, TStampMode::Add, true, r2));
  const auto pos = StampPositions(StampPath);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 30; ++x) {
      float best = 0;
      for (const TPointI& c : pos) {
        const int d2 = (x - c.X) * (x - c.X) + (y - c.Y) * (y - c.Y);
        if (d2 < r2) best = std::max(best, StampWeight(d2, r2));
      }
      ASSERT_FLOAT_EQ(Pixel(1, x, y), 100 * best) << x << "," << y;
    }
  ASSERT_EQ(UndoList.size(), 1u);
  const TUndoEntry& e = UndoEntries[size_t(UndoList.back())];
  EXPECT_EQ(e.X1, 1);
  EXPECT_EQ(e.X2, 29);
  EXPECT_EQ(e.Y1, 1);
  EXPECT_EQ(e.Y2, 29);
}

TEST_F(StampTest, CopyStampOffsetsAndSkipsSourcePixelsOutside) {
  // Source: grey 10 x 10 with value 1000 + x; destination colour (three planes 0).
  Flat(1, 20, 20, 0, 3);
  test::MakeImage(2, 10, 10, {std::vector<float>(100)});
  for (int i = 0; i < 100; ++i) Store.Image[2].Planes[1][size_t(i)] = float(1000 + i % 10);
  CopySourceSlot = 2;
  CopySourcePoint = {1, 5};
  StartStampPath({10, 10});  // offset (9, 5): pixel (x, y) takes source (x - 9, y - 5)
  ASSERT_TRUE(ApplyCopyStamp(1, TStampMode::Paste, false, 1));
  EXPECT_FLOAT_EQ(Pixel(1, 10, 10), 1001);
  EXPECT_FLOAT_EQ(Pixel(1, 10, 10, 2), 0);  // a grey source writes plane 1 only
  CopySourcePoint = {0, 5};
  StartStampPath({10, 10});  // now the left half of the disc reads column -1 and less
  ASSERT_TRUE(ApplyCopyStamp(1, TStampMode::Paste, false, StampRadiusSquaredOf(5)));
  EXPECT_FLOAT_EQ(Pixel(1, 9, 10), 0);
  EXPECT_FLOAT_EQ(Pixel(1, 10, 10), 1000);
  EXPECT_FLOAT_EQ(Pixel(1, 11, 10), 1001 * StampWeight(1, StampRadiusSquaredOf(5)));
}

}  // namespace
}  // namespace astrelon
