// The shared filter dialog on screen (offscreen): starting a function from its
// menu item, the live preview and its timer, "&Berechnen", "&Ok" with its
// history texts, "&Abbruch", the sliders and the image windows' notices.
#include "filter_dialog_fixture.h"

namespace astrelon::test {
namespace {

TEST_F(FilterDialogTest, RowLevellingPreviewsAtOnceAndOkKeepsItWithItsHistory) {
  Start("Zeilengleichhell1");
  ASSERT_TRUE(form->isVisible());
  ASSERT_TRUE(MainLink().FilterDialogVisible);
  EXPECT_TRUE(MainLink().FilterDialogVisible());  // the main window disables image operations
  EXPECT_EQ(form->windowTitle(), "Zeilen gleichhell");
  EXPECT_TRUE(form->Button3->isHidden());
  EXPECT_FALSE(form->Sliders[1]->isVisible());
  EXPECT_TRUE(form->Panel8->isVisible());
  ASSERT_NE(ImageWindow(2), nullptr);
  // The rows of x + 2 y are level after the preview.
  for (int y = 1; y < 12; ++y) EXPECT_NEAR(Out(5, y), Out(5, 0), 1e-4) << y;
  form->Button1->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(History(2), "Zeilen gleichhell, Richtwert 50.0");
  EXPECT_EQ(Store.NewHistoryCard[2], 1);
  EXPECT_EQ(OperationRunning, 0);
}

TEST_F(FilterDialogTest, SelectionOfTheSourceIsRecordedOnOk) {
  TMDIChild* source = Open(1, 40, 12);
  Drag(source, QPoint(3, 2), QPoint(20, 9));
  area_->setActiveSubWindow(source);
  ASSERT_TRUE(RunMenuCommand("Zeilengleichhell1"));
  ASSERT_TRUE(ImageWindow(2)->SelectionVisible(1));
  form->RadioGroup3->SetItemIndex(1);
  emit form->RadioGroup3->Clicked(1);  // "Relativ" runs the preview at once
  form->Button1->click();
  EXPECT_EQ(History(2), "Zeilen gleichhell, Richtwert 50.0, Relativ, [X1: 3, X2: 20, Y1: 2, Y2: 9].");
}

TEST_F(FilterDialogTest, MovesWithinTheTimerGiveOnePreview) {
  int previews = 0;
  TFilterFunktion counting = *FindFilterFunktion(15);
  const auto run = counting.Run;
  counting.Run = [&](TFilterCall& c) {
    ++previews;
    run(c);
  };
  RegisterFilterFunktion(15, counting);
  Start("Zeilengleichhell1");
  EXPECT_EQ(previews, 1);  // at show
  TFilterSlider* s = form->Sliders[0];
  for (int k = 0; k < 3; ++k) PressTrack(s, s->Track->width() - 2);
  EXPECT_EQ(s->Offset(), 83);  // three pixels right of 80
  EXPECT_FLOAT_EQ(FunktionDefTable[15].Trackbar[0].Position, 83.0f / 160.0f);
  EXPECT_EQ(previews, 1);
  QTest::qWait(450);
  EXPECT_EQ(previews, 2);
  EXPECT_FALSE(form->Timer1->isActive());
  EXPECT_EQ(s->ValueLabel->text(), "51.9");
}

TEST_F(FilterDialogTest, AbbruchWhileIdleClosesBothWindows) {
  TMDIChild* window = Open(1, 40, 12);
  const int freeBefore = FindFreeSlot();
  area_->setActiveSubWindow(window);
  ASSERT_TRUE(RunMenuCommand("Zeilengleichhell1"));
  const TPlane source = Store.Image[1].Planes[1];
  // A work slot the dialog holds goes too (a cached blur left by any function).
  FilterBlurSlot = FindFreeSlot();
  ASSERT_TRUE(CopyImageSlot(1, FilterBlurSlot));
  FilterBlurValid = true;
  form->Button2->click();
  QApplication::processEvents();
  EXPECT_FALSE(form->isVisible());
  EXPECT_EQ(ImageWindow(2), nullptr);
  EXPECT_EQ(FilterBlurSlot, -1);
  EXPECT_EQ(FindFreeSlot(), freeBefore);
  EXPECT_EQ(CountOpenWindows(), 1);
  EXPECT_TRUE(Store.Image[1].Planes[1] == source);
}

TEST_F(FilterDialogTest, StarRadiusComputesOnBerechnenAndOkWritesItsValues) {
  Start("Sternradiusverkleinern1", 60, 40);
  EXPECT_FALSE(form->Button3->isHidden());
  EXPECT_TRUE(form->Button3->isEnabled());
  EXPECT_FALSE(form->Button1->isEnabled());
  EXPECT_TRUE(form->Panel6->isVisible());
  EXPECT_FALSE(form->CheckBox2->isVisible());
  EXPECT_TRUE(Store.Image[2].Planes[1] == Store.Image[1].Planes[1]);
  // Radius 5 and "Sterne ausblenden" 100 %: every pixel of the ramp erodes.
  FunktionDefTable[8].Trackbar[0].Position = 1.0f;
  FunktionDefTable[8].Trackbar[2].Position = 1.0f;
  form->Button3->click();
  EXPECT_LT(Out(30, 20), Store.Image[1].At(1, 30, 20));
  EXPECT_TRUE(form->Button1->isEnabled());
  EXPECT_FALSE(form->Button3->isEnabled());
  EXPECT_EQ(form->Button3->text(), "&Berechnen");
  // A selection drawn in the result window asks for a new computation.
  Drag(ImageWindow(2), QPoint(5, 5), QPoint(30, 20));
  EXPECT_TRUE(form->Button3->isEnabled());
  form->Button1->click();
  EXPECT_EQ(History(2), "Sternradius verkleinern, Radius 5.00, Untere Schwelle " + FunktionParamText(8, 2) +
                           ", Sterne ausblenden 100");
}

TEST_F(FilterDialogTest, OkWithoutAFinishedComputationWritesNoHistory) {
  struct TAbortUi : TEngineUi {
    void ProcessMessages() override {
      AbortRequested = 1;
      QApplication::processEvents();
    }
  } ui;
  Start("Sternradiusverkleinern1", 60, 40);
  const std::string before = History(2);
  SetEngineUi(&ui);
  form->Button3->click();
  SetEngineUi(nullptr);
  EXPECT_TRUE(form->Button3->isEnabled());  // aborted: it may run again
  EXPECT_TRUE(form->Button1->isEnabled());
  form->Button1->click();
  EXPECT_FALSE(form->isVisible());
  EXPECT_NE(ImageWindow(2), nullptr);
  EXPECT_EQ(History(2), before);
}

TEST_F(FilterDialogTest, SliderPositionsReturnInTheNextRun) {
  Start("Zeilengleichhell1");
  TFilterSlider* s = form->Sliders[0];
  PressTrack(s, 1);  // left of the knob: one pixel left
  EXPECT_EQ(s->Offset(), 79);
  form->Button1->click();
  EXPECT_EQ(EncodeFilterRow(15).substr(0, 2), "4F");  // 79 = 0x4F, as the settings keep it
  area_->setActiveSubWindow(ImageWindow(1));
  ASSERT_TRUE(RunMenuCommand("Zeilengleichhell1"));
  EXPECT_EQ(s->Offset(), 79);
  EXPECT_EQ(s->ValueLabel->text(), "49.4");
}

}  // namespace
}  // namespace astrelon::test
