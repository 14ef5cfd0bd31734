// Image store: slots, copies, copy names, working rectangle, minimum and maximum.
#include "store/image_store.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "common/pascal_format.h"
#include "core/settings.h"
#include "fake_window.h"
#include "test_support.h"

namespace astrelon {
namespace {

using test::FakeWindow;

class ImageStoreTest : public test::StoreTest {
protected:
  // Fills a slot with a w x h image whose pixels are given row by row per plane.
  void MakeImage(int slot, int w, int h, std::vector<std::vector<float>> planes, const std::string& name = "M42.fit") {
    TImageSlot& im = Store.Image[slot];
    im.Width = w;
    im.Height = h;
    im.PlaneCount = int(planes.size());
    im.IsColor = planes.size() == 3;
    for (size_t p = 0; p < planes.size(); ++p) im.Planes[p + 1].assign(planes[p].begin(), planes[p].end());
    Store.InUse[slot] = 1;
    Store.FileName[slot] = name;
    MakeDefaultHeader(slot);
  }
  void GiveWindow(int slot, FakeWindow& w) {
    Store.HasWindow[slot] = 1;
    Store.Window[slot] = &w;
  }
};

TEST(BlankPixels, LimitIsStrict) {
  EXPECT_FALSE(IsValidPixel(-1e9f));
  EXPECT_TRUE(IsValidPixel(std::nextafter(-1e9f, 0.0f)));
  EXPECT_EQ(std::nextafter(-1e9f, 0.0f), -999999936.0f);
  EXPECT_FALSE(IsValidPixel(BlankPixel));
  EXPECT_FALSE(IsValidPixel(std::numeric_limits<float>::quiet_NaN()));
  uint32_t bits;
  std::memcpy(&bits, &BlankPixel, 4);
  EXPECT_EQ(bits, 0xD1BA43B7u);
}

TEST_F(ImageStoreTest, FreeSlotIsTheLowestUnused) {
  EXPECT_EQ(FindFreeSlot(), 1);
  Store.InUse[1] = 1;
  Store.InUse[3] = 1;
  EXPECT_EQ(FindFreeSlot(), 2);
  for (int s = 1; s <= MaxImageSlots; ++s) Store.InUse[s] = 1;
  EXPECT_EQ(FindFreeSlot(), -1);
  FakeWindow w;
  w.active = true;
  GiveWindow(5, w);
  EXPECT_EQ(FindActiveSlot(), 5);
  EXPECT_FALSE(NewResultSlot());
  EXPECT_EQ(SlotPair.Destination, -1);
}

TEST_F(ImageStoreTest, MinMaxSkipsBlankPixels) {
  MakeImage(1, 2, 2, {{BlankPixel, 3, -5, std::numeric_limits<float>::quiet_NaN()}});
  UpdateMinMax(1);
  EXPECT_EQ(Store.Image[1].MinValue, -5);
  EXPECT_EQ(Store.Image[1].MaxValue, 3);
  EXPECT_EQ(Store.Image[1].PlaneMin[1], -5);
  EXPECT_EQ(Store.Image[1].PlaneMax[1], 3);
}

TEST_F(ImageStoreTest, AllBlankPlanesGiveZeroAndOne) {
  MakeImage(1, 2, 1, {{BlankPixel, -1e9f}, {5, 7}, {BlankPixel, BlankPixel}});
  UpdateMinMax(1);
  EXPECT_EQ(Store.Image[1].PlaneMin[1], 0);
  EXPECT_EQ(Store.Image[1].PlaneMax[1], 1.0f);
  EXPECT_EQ(Store.Image[1].MinValue, 5);
  EXPECT_EQ(Store.Image[1].MaxValue, 7);
  MakeImage(2, 2, 1, {{BlankPixel, BlankPixel}});
  UpdateMinMax(2);
  EXPECT_EQ(Store.Image[2].MinValue, 0);
  EXPECT_EQ(Store.Image[2].MaxValue, 1.0f);
}

TEST_F(ImageStoreTest, CopyNamesCountUp) {
  MakeImage(1, 1, 1, {{1}}, "/data/M42.fit");
  FakeWindow w1;
  GiveWindow(1, w1);
  ASSERT_TRUE(CopyImageSlot(1, 2));
  EXPECT_EQ(Store.FileName[2], "/data/M42_2.fit");
  EXPECT_EQ(Store.Image[2].NumberedName, 1);
  FakeWindow w2;
  GiveWindow(2, w2);
  ASSERT_TRUE(CopyImageSlot(2, 3));
  EXPECT_EQ(Store.FileName[3], "/data/M42_3.fit");
  // A name already taken by another window is skipped.
  ASSERT_TRUE(CopyImageSlot(1, 4));
  EXPECT_EQ(Store.FileName[4], "/data/M42_3.fit");  // slot 3 has no window
  FakeWindow w3;
  GiveWindow(3, w3);
  ASSERT_TRUE(CopyImageSlot(1, 4));
  EXPECT_EQ(Store.FileName[4], "/data/M42_4.fit");
}

TEST_F(ImageStoreTest, CopyNameCarriesIntoTheTensDigit) {
  MakeImage(1, 1, 1, {{1}}, "M42_9.fit");
  Store.Image[1].NumberedName = 1;
  CopyImageSlot(1, 2);
  EXPECT_EQ(Store.FileName[2], "M42_10.fit");
  Store.FileName[3] = "img_19.fts";
  Store.Image[3].NumberedName = 1;
  Store.InUse[3] = 1;
  CopyImageSlot(3, 4);
  EXPECT_EQ(Store.FileName[4], "img_20.fts");
}

TEST_F(ImageStoreTest, CopyNameRecognisesAnUnderscoreNumber) {
  MakeImage(1, 1, 1, {{1}}, "Bild_5.png");
  CopyImageSlot(1, 2);
  EXPECT_EQ(Store.FileName[2], "Bild_6.png");
  MakeImage(3, 1, 1, {{1}}, "noext");
  CopyImageSlot(3, 4);
  EXPECT_EQ(Store.FileName[4], "noext_2");
  MakeImage(5, 1, 1, {{1}}, "a.b/c_x");
  CopyImageSlot(5, 6);
  EXPECT_EQ(Store.FileName[6], "a.b/c_x_2");
}

TEST_F(ImageStoreTest, ColourCopyReplacesALargerImage) {
  MakeImage(2, 3, 3, {std::vector<float>(9, 1.0f)}, "big.fit");
  MakeImage(1, 2, 1, {{1, 2}, {3, 4}, {5, 6}}, "rgb.fit");
  Store.NewHistoryCard[1] = 0;
  Store.Display[1].Black = 17;
  ASSERT_TRUE(CopyImageSlot(1, 2));
  const TImageSlot& d = Store.Image[2];
  EXPECT_EQ(d.Width, 2);
  EXPECT_EQ(d.Height, 1);
  EXPECT_EQ(d.PlaneCount, 3);
  EXPECT_EQ(d.IsColor, 1);
  EXPECT_EQ(d.Planes[3], (TPlane{5, 6}));
  EXPECT_EQ(Store.Header[2].Cards, Store.Header[1].Cards);
  EXPECT_EQ(Store.NewHistoryCard[2], 0);
  EXPECT_EQ(Store.Display[2].Black, 17);
  EXPECT_EQ(Store.Display[2].Changed, 1);
  // Planes never share storage.
  Store.Image[2].Planes[1][0] = 99;
  EXPECT_EQ(Store.Image[1].Planes[1][0], 1);
  EXPECT_FALSE(CopyImageSlot(1, 0));
}

TEST_F(ImageStoreTest, NewResultSlotCopiesTheActiveImage) {
  MakeImage(1, 2, 1, {{1, 2}});
  FakeWindow w;
  w.active = true;
  GiveWindow(1, w);
  Store.InUse[2] = 1;
  ASSERT_TRUE(NewResultSlot());
  EXPECT_EQ(SlotPair.Source, 1);
  EXPECT_EQ(SlotPair.Destination, 3);
  EXPECT_EQ(Store.Image[3].Planes[1], (TPlane{1, 2}));
}

TEST_F(ImageStoreTest, WorkRectFromSelectionsMarkersAndMarks) {
  MakeImage(1, 100, 50, {std::vector<float>(5000, 0.0f)});
  FakeWindow w;
  GiveWindow(1, w);
  SetWorkRectFromWindow(1, 1, false);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 99);
  EXPECT_EQ(WorkRect.y2, 49);
  w.sel1 = true;
  w.rect1 = {-5, 10, 200, 20};
  SetWorkRectFromWindow(1, 1, false);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 99);
  EXPECT_EQ(WorkRect.y1, 10);
  EXPECT_EQ(WorkRect.y2, 20);
  // A marker point at the right edge becomes the last 2 x 2 block.
  w.marker2 = true;
  w.markerPoint = {99, 49};
  SetWorkRectFromWindow(1, 2, true);
  EXPECT_EQ(WorkRect.x1, 98);
  EXPECT_EQ(WorkRect.x2, 99);
  EXPECT_EQ(WorkRect.y1, 48);
  EXPECT_EQ(WorkRect.y2, 49);
  w.marks = {{10, 11, 30, 31}};
  SetWorkRectFromWindow(1, -1, false);
  EXPECT_EQ(WorkRect.x1, 10);
  EXPECT_EQ(WorkRect.y2, 31);
  SetWorkRectFromWindow(1, -2, false);  // no second mark: whole image
  EXPECT_EQ(WorkRect.x2, 99);
}

TEST_F(ImageStoreTest, OnePixelImageGivesAOnePixelRectangle) {
  MakeImage(1, 1, 5, {std::vector<float>(5, 0.0f)});
  FakeWindow w;
  GiveWindow(1, w);
  SetWorkRectFromWindow(1, 1, false);
  EXPECT_EQ(WorkRect.x1, 0);
  EXPECT_EQ(WorkRect.x2, 0);
  EXPECT_EQ(WorkRect.y1, 0);
  EXPECT_EQ(WorkRect.y2, 4);
}

TEST_F(ImageStoreTest, OperationFlagsAndWindowIcons) {
  FakeWindow a, b;
  MakeImage(1, 1, 1, {{1}});
  MakeImage(2, 1, 1, {{1}});
  GiveWindow(1, a);
  GiveWindow(2, b);
  SlotPair = {1, 2};
  AbortRequested = 1;
  SetOperationActive(true);
  EXPECT_EQ(OperationRunning, 1);
  EXPECT_EQ(AbortRequested, 0);
  EXPECT_TRUE(a.iconsRunning && b.iconsRunning);
  SetOperationActive(false);
  EXPECT_EQ(OperationRunning, 0);
  EXPECT_FALSE(a.iconsRunning || b.iconsRunning);
  SlotPair = {};
}

TEST_F(ImageStoreTest, AutoDisplayRangeOfAFlatImage) {
  MakeImage(1, 4, 4, {std::vector<float>(16, 42.0f)}, "flat.png");
  UpdateMinMax(1);
  SetAutoDisplayRange(1, false);
  const TDisplayRecord& d = Store.Display[1];
  EXPECT_FLOAT_EQ(d.Black, 42.0f);
  EXPECT_FLOAT_EQ(d.White, 42.001f);
  EXPECT_LE(d.RangeLow, d.Black);
  EXPECT_GE(d.RangeHigh, d.White);
  EXPECT_EQ(d.Gamma, 1.0f);
  EXPECT_EQ(d.Changed, 1);
}

TEST_F(ImageStoreTest, ResetDisplayRangeUsesMinimumAndMaximum) {
  MakeImage(1, 3, 1, {{10, 20, 300}});
  ResetDisplayRange(1, 0);
  EXPECT_EQ(Store.Display[1].Black, 10);
  EXPECT_EQ(Store.Display[1].White, 300);
  ResetDisplayRange(1, 255);
  EXPECT_EQ(Store.Display[1].White, 255);
  EXPECT_EQ(Store.Display[1].Black, 0);
  EXPECT_EQ(Store.Display[1].RangeHigh, 300);
  EXPECT_EQ(Store.Display[1].DisplayType, DtGrey);
}

TEST_F(ImageStoreTest, PlaneMeanOfValidPixels) {
  MakeImage(1, 4, 1, {{1, 2, BlankPixel, 6}});
  EXPECT_FLOAT_EQ(GetPlaneMean(1, 1), 3.0f);
}

TEST_F(ImageStoreTest, ProgressPercentAndCaption) {
  MakeImage(1, 10, 200, {std::vector<float>(2000, 0.0f)});
  EXPECT_EQ(GetProgressPercent(1, 1, false, 50, false, false, false), 25);
  EXPECT_EQ(GetProgressPercent(1, 1, false, 37, false, true, false), 37);
  EXPECT_EQ(GetProgressPercent(1, 4, false, 50, false, false, false), 0);
  MakeImage(2, 2, 100, {std::vector<float>(200), std::vector<float>(200), std::vector<float>(200)});
  EXPECT_EQ(GetProgressPercent(2, 2, false, 50, true, false, false), Round32(16.65 + 33.3));
  // Without thirds, only the selected channels count: all three here.
  EXPECT_EQ(GetProgressPercent(2, 3, false, 50, false, false, false), Round32(2.0 / 3 * 100 + 50.0 * 100 / 300));
  FakeWindow w;
  GiveWindow(2, w);
  ShowProgress(2, 2, 2, 50, false, true, false, false, "Filter");
  EXPECT_EQ(w.lastCaption, "Grün Filter");
  ShowProgress(2, 2, 0, 50, false, true, false, false, "Filter");
  EXPECT_EQ(w.lastPercent, -1);
}

}  // namespace
}  // namespace astrelon
