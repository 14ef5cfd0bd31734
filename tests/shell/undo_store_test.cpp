// The undo store: what a push saves, the numbering of the 100 entries, and what
// an undo step writes back into slots that were closed, made grey or shrunk.
#include "shell/undo/undo_store.h"

#include <numeric>

#include "store/color_models.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

class UndoStoreTest : public test::StoreTest {
protected:
  void SetUp() override {
    test::StoreTest::SetUp();
    ClearUndoStore();
    UndoButtonHook = [this](bool on) { button = on ? 1 : 0; };
  }
  void TearDown() override {
    ClearUndoStore();
    UndoButtonHook = nullptr;
    test::StoreTest::TearDown();
  }
  // A w x h image whose pixel (x, y) of plane p holds 100 p + 10 y + x.
  static void Numbered(int slot, int w, int h, int planes) {
    std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(w * h)));
    for (int p = 0; p < planes; ++p)
      for (int i = 0; i < w * h; ++i) v[size_t(p)][size_t(i)] = float(100 * (p + 1) + 10 * (i / w) + i % w);
    test::MakeImage(slot, w, h, v);
  }
  static void Scribble(int slot) {
    for (auto& plane : Store.Image[slot].Planes) std::fill(plane.begin(), plane.end(), -7.0f);
  }
  int button = -1;  // -1: the hook was not called
};

TEST_F(UndoStoreTest, PushClipsTheRectangleAndUndoPutsItBack) {
  Numbered(1, 10, 10, 1);
  PushUndo(1, -5, 12, -3, 7);
  ASSERT_EQ(UndoList, TUndoList{1});
  const TUndoEntry& e = UndoEntries[1];
  EXPECT_EQ((std::array<int, 5>{e.Slot, e.X1, e.X2, e.Y1, e.Y2}), (std::array<int, 5>{1, 0, 9, 0, 7}));
  EXPECT_EQ(e.Planes[0].size(), 80u);
  EXPECT_EQ(e.Planes[0][79], 179.0f);
  EXPECT_EQ(button, 1);

  Scribble(1);
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(Store.Image[1].At(1, 9, 7), 179.0f);
  EXPECT_EQ(Store.Image[1].At(1, 0, 8), -7.0f);  // row 8 was not saved
  EXPECT_EQ(Store.Image[1].DataChanged, 1);
  EXPECT_TRUE(UndoList.empty());
  EXPECT_EQ(UndoEntries[1].Slot, -1);
  EXPECT_EQ(button, 0);
  EXPECT_EQ(UndoLastStep(), 0);  // an empty list only disables the button
}

TEST_F(UndoStoreTest, NothingIsStoredForAClosedSlotOrARectangleOutside) {
  Numbered(1, 10, 10, 1);
  PushUndo(2, 0, 5, 0, 5);
  PushUndo(1, 10, 20, 0, 5);
  PushUndo(1, 0, 5, -9, -1);
  EXPECT_TRUE(UndoList.empty());
  EXPECT_EQ(button, -1);  // left as it was
}

TEST_F(UndoStoreTest, HundredEntriesAtMostTheOldestNumberIsReused) {
  Numbered(1, 4, 4, 1);
  for (int i = 0; i < 100; ++i) PushUndo(1, 0, 0, 0, 0);
  TUndoList all(100);
  std::iota(all.begin(), all.end(), 1);
  EXPECT_EQ(UndoList, all);
  EXPECT_EQ(FindFreeUndoNumber(), 1);  // all in use
  PushUndo(1, 1, 1, 1, 1);
  EXPECT_EQ(UndoList.size(), 100u);
  EXPECT_EQ(UndoList.front(), 2);
  EXPECT_EQ(UndoList.back(), 1);
  EXPECT_EQ(UndoEntries[1].X1, 1);
  UndoList.erase(UndoList.begin() + 4);
  EXPECT_EQ(FindFreeUndoNumber(), 6);
}

TEST_F(UndoStoreTest, EntriesOfClosedSlotsAreSkippedInTheSameStep) {
  Numbered(1, 4, 4, 1);
  Numbered(2, 4, 4, 1);
  Numbered(3, 4, 4, 1);
  PushUndo(1, 0, 3, 0, 3);
  PushUndo(2, 0, 3, 0, 3);
  PushUndo(3, 0, 3, 0, 3);
  Scribble(1);
  // Slot 3 goes the way a window closes; slot 2 is freed without its entry dropped.
  ReleaseWindowUndo(3);
  FreeSlot(3);
  FreeSlot(2);
  EXPECT_EQ(UndoList, (TUndoList{1, 2}));
  EXPECT_EQ(UndoLastStep(), 1);
  EXPECT_EQ(Store.Image[1].At(1, 3, 3), 133.0f);
  EXPECT_TRUE(UndoList.empty());
  EXPECT_EQ(button, 0);
}

TEST_F(UndoStoreTest, AGreyOrShrunkSlotIsWrittenOnlyWhereItCan) {
  Numbered(1, 6, 6, 3);
  PushUndo(1, 1, 5, 1, 5);
  EXPECT_EQ(UndoEntries[1].PlaneCount, 3);
  // The image became grey and smaller meanwhile.
  Numbered(1, 3, 4, 1);
  Scribble(1);
  EXPECT_EQ(UndoLastStep(), 1);
  const std::vector<float> expected = {-7, -7,  -7,   //
                                       -7, 111, 112,  //
                                       -7, 121, 122,  //
                                       -7, 131, 132};
  EXPECT_EQ(std::vector<float>(Store.Image[1].Planes[1].begin(), Store.Image[1].Planes[1].end()), expected);
  EXPECT_EQ(Store.Image[1].Planes[2][7], -7.0f);  // a plane of the old colour image stays untouched

  // A colour entry restores its three planes into a colour image.
  Numbered(2, 2, 2, 3);
  PushUndo(2, 0, 1, 0, 1);
  Scribble(2);
  UndoLastStep();
  EXPECT_EQ(Store.Image[2].At(3, 1, 1), 311.0f);
}

TEST_F(UndoStoreTest, ReleasingASlotKeepsTheOthersAndTheColourSwitchReleasesToo) {
  Numbered(1, 4, 4, 3);
  Numbered(2, 4, 4, 1);
  PushUndo(1, 0, 1, 0, 1);
  PushUndo(2, 0, 1, 0, 1);
  PushUndo(1, 2, 3, 2, 3);
  ReleaseWindowUndo(2);
  EXPECT_EQ(UndoList, (TUndoList{1, 3}));
  EXPECT_EQ(button, 1);
  RGBtoYUV(1);
  EXPECT_TRUE(UndoList.empty());
  EXPECT_EQ(button, 0);
}

}  // namespace
}  // namespace astrelon
