// The pixel filters in the shared dialog: history texts of "&Ok", the blur
// cache across "&Berechnen", aborts, slider moves and its released slot.
#include "filter_dialog_fixture.h"
#include "filters/dialog/pixel_filters.h"
#include "kernels/gauss/gauss_filters.h"

namespace astrelon::test {
namespace {

struct TAbortUi : TEngineUi {
  void ProcessMessages() override {
    AbortRequested = 1;
    QApplication::processEvents();
  }
};

bool SamePlanes(int a, int b) { return Store.Image[size_t(a)].Planes[1] == Store.Image[size_t(b)].Planes[1]; }

TEST_F(FilterDialogTest, MenuItemsStartTheirFunctions) {
  struct Case {
    const char* Item;
    int Nr;
    bool Preview;  // computed at show (with slider 1 at its right end)
  };
  const Case cases[] = {{"Unsmear1", 1, true},       {"Hintergrundebnen1", 2, true},
                        {"Gaussschrfen1", 3, false}, {"Gaussgltten1", 5, false},
                        {"UnscharfeMaskierung1", 6, false}, {"Farbsttingungeinstellen1", 7, false},
                        {"Deinterlace1", 13, true},  {"FarbhfeumSterneverringern1", 18, false}};
  for (const Case& c : cases) {
    FunktionDefTable[size_t(c.Nr)].Trackbar[0].Position = 1.0f;
    Start(c.Item, 30, 20);
    ASSERT_TRUE(form->isVisible()) << c.Item;
    EXPECT_EQ(FunktionNr, c.Nr);
    EXPECT_EQ(form->windowTitle().toStdString(), FunktionDefTable[size_t(c.Nr)].Name);
    EXPECT_EQ(form->Button3->isHidden(), !FunktionDefTable[size_t(c.Nr)].NeedsBerechnen) << c.Item;
    // The colour functions leave the grey test image as it is.
    EXPECT_EQ(!SamePlanes(1, 2), c.Preview) << c.Item;
    CancelAndCloseAll();
  }
}

TEST_F(FilterDialogTest, UnsharpMaskingAtItsDefaultsRecordsRadiusAndStrength) {
  Start("UnscharfeMaskierung1", 60, 40);
  ASSERT_TRUE(form->isVisible());
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_FALSE(form->Button1->isEnabled());
  form->Button3->click();
  EXPECT_FALSE(SamePlanes(1, 2));
  EXPECT_TRUE(FilterBlurValid);
  const int cache = FilterBlurSlot;
  ASSERT_GE(cache, 1);
  form->Button1->click();
  EXPECT_EQ(History(2), "Unscharfe Maskierung, Radius 30.5, Staerke 100");
  EXPECT_EQ(FilterBlurSlot, -1);  // Ok releases the cache slot
  EXPECT_FALSE(Store.InUse[size_t(cache)]);
}

TEST_F(FilterDialogTest, TwoByTwoSelectionLeavesTheCopy) {
  for (const char* item : {"Gaussschrfen1", "Gaussgltten1", "UnscharfeMaskierung1"}) {
    TMDIChild* source = Open(1, 40, 30);
    Drag(source, QPoint(3, 3), QPoint(4, 4));
    area_->setActiveSubWindow(source);
    ASSERT_TRUE(RunMenuCommand(item));
    form->Button3->click();
    EXPECT_TRUE(SamePlanes(1, 2)) << item;
    CancelAndCloseAll();
  }
}

TEST_F(FilterDialogTest, AbortedSharpeningBlursAnewOnBerechnen) {
  Start("Gaussschrfen1", 60, 40);
  TAbortUi ui;
  SetEngineUi(&ui);
  form->Button3->click();
  SetEngineUi(nullptr);
  EXPECT_EQ(FilterBlurRadius, -1.0f);
  EXPECT_TRUE(form->Button3->isEnabled());
  form->Button3->click();
  EXPECT_EQ(FilterBlurRadius, FunktionParamValue(3, 1));
  // The result is that of a blur made in one go.
  ASSERT_TRUE(CopyImageSlot(1, 10));
  TFilterCall c;
  c.Source = 1;
  c.Destination = 10;
  c.Rect = {0, 59, 0, 39};
  c.Planes = {false, true, false, false};
  for (int j = 1; j <= 3; ++j) c.Value[size_t(j)] = FunktionParamValue(3, j);
  const int held = FilterBlurSlot;
  FilterBlurSlot = -1;
  InvalidateFilterBlur();
  GaussSharpen(c);  // with a blur of its own
  EXPECT_TRUE(SamePlanes(2, 10));
  ReleaseFilterSlot(FilterBlurSlot);
  FilterBlurSlot = held;
}

TEST_F(FilterDialogTest, SmoothingStrengthFollowsItsSliderWithinOneTick) {
  Start("Gaussgltten1", 60, 40);
  form->Button3->click();
  ASSERT_TRUE(FilterBlurValid);
  EXPECT_FALSE(form->Button3->isEnabled());
  const float before = Out(0, 0);
  PressTrack(form->Sliders[1], 1);  // strength one step down from 100 %
  QTest::qWait(450);
  EXPECT_FALSE(form->Button3->isEnabled());
  const float s = FunktionParamValue(5, 2);
  const float blur = Store.Image[size_t(FilterBlurSlot)].At(1, 0, 0);
  EXPECT_NE(Out(0, 0), before);
  EXPECT_NEAR(Out(0, 0), (Store.Image[1].At(1, 0, 0) * (100 - s) + blur * s) * 0.01f, 1e-3);
}

TEST_F(FilterDialogTest, ImageOpenedIntoTheReleasedCacheSlotSurvivesLaterRuns) {
  Start("Gaussgltten1", 60, 40);
  form->Button3->click();
  const int cache = FilterBlurSlot;
  ASSERT_GE(cache, 1);
  form->Button1->click();
  ASSERT_FALSE(Store.InUse[size_t(cache)]);
  TMDIChild* other = Open(cache, 30, 20);
  const TPlane kept = Store.Image[size_t(cache)].Planes[1];
  area_->setActiveSubWindow(ImageWindow(1));
  ASSERT_TRUE(RunMenuCommand("Gaussgltten1"));
  form->Button3->click();
  EXPECT_NE(FilterBlurSlot, cache);
  EXPECT_TRUE(Store.Image[size_t(cache)].Planes[1] == kept);
  EXPECT_EQ(Store.Image[size_t(cache)].Width, 30);
  form->Button1->click();
  EXPECT_EQ(ImageWindow(cache), other);
}

}  // namespace
}  // namespace astrelon::test
