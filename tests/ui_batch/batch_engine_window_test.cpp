// The engine run from the batch window with image windows: the target shown
// with only its maximise icon, pause between steps, and a window closed while
// a step works on its image.
#include <QPushButton>
#include <QScrollArea>
#include <filesystem>

#include "engine_window_fixture.h"
#include "shell/ui/windows/image_window.h"
#include "store/image_loader.h"
#include "store/slot_holds.h"

namespace astrelon::test {
namespace {

TEST_F(BatchEngineWindowTest, AnAddRunShowsItsTargetAndEndsWithOk) {
  for (int i = 1; i <= 3; ++i) Flat("a000" + std::to_string(i) + ".fit", 30, 20, float(i));
  BatchSteps.Records[1].Values[0] = dir.file("a0001.fit");
  BatchSteps.Records[1].Values[1] = "sum.fit";
  NextStep(10);
  form->Button3->click();
  ASSERT_EQ(BatchRun.Running.load(), 1);
  EXPECT_EQ(form->Timer1->interval(), 0);
  int target = -1;
  pump.OnPump = [&] {
    if (SlotInUse(BatchRun.TargetSlot)) target = BatchRun.TargetSlot;
  };
  WaitForEnd();
  ASSERT_EQ(BatchRun.Running.load(), 0);
  TForm10& status = BatchStatusWindow();
  EXPECT_EQ(status.Label2->text(), "Bearbeitung fertig.");
  EXPECT_EQ(status.Label3->text(), "Keine weiteren Bilder gefunden.");
  EXPECT_EQ(status.Label1->text(), "3 Bilder Add");
  EXPECT_EQ(status.Button1->text(), "&Ok");
  ASSERT_GE(target, 1);
  TMDIChild* window = ImageWindow(target);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(window->BorderIconsLocked());
  EXPECT_EQ(Store.FileName[size_t(target)], dir.file("sum.fit"));
  EXPECT_TRUE(std::filesystem::exists(dir.file("sum.fit")));
  EXPECT_EQ(Store.Image[size_t(target)].At(1, 5, 5), 6.0f);
  EXPECT_FALSE(BatchStartPending);
}

TEST_F(BatchEngineWindowTest, PauseStopsAfterTheStepAndWeiterGoesOn) {
  for (int i = 1; i <= 2; ++i) Flat("p000" + std::to_string(i) + ".fit", 30, 20, float(i));
  BatchSteps.Records[1].Values[0] = dir.file("p0001.fit");
  BatchSteps.Records[1].Values[1] = dir.file("r.fit");
  NextStep(4);
  BatchSteps.Records[2].Values[0] = "1";
  NextStep(21);
  // The pause is pressed while the first step of the first image runs.
  pump.OnPump = [&] {
    if (BatchRun.CurrentStep == 2 && BatchRun.FilesDone == 0 && !BatchStatusWindow().Paused())
      BatchStatusWindow().Button3->click();
  };
  form->Button3->click();
  for (int i = 0; i < 100 && !form->Timer1->isActive() && BatchRun.CurrentStep < 3; ++i) QTest::qWait(5);
  QTest::qWait(100);
  ASSERT_TRUE(BatchStatusWindow().Paused());
  EXPECT_EQ(BatchStatusWindow().Button3->text(), "&Weiter");
  EXPECT_EQ(BatchRun.CurrentStep, 3) << "the step ran to its end";
  EXPECT_EQ(BatchRun.FilesDone, 0);
  EXPECT_FALSE(form->Timer1->isActive());
  pump.OnPump = nullptr;
  BatchStatusWindow().Button3->click();
  WaitForEnd();
  EXPECT_EQ(BatchRun.FilesDone, 2);
  EXPECT_EQ(BatchStatusWindow().Label2->text(), "Bearbeitung fertig.");
  EXPECT_TRUE(std::filesystem::exists(dir.file("r_0002.FIT")));
}

TEST_F(BatchEngineWindowTest, ClosingTheWorkWindowDuringAStepSkipsTheImage) {
  for (int i = 1; i <= 3; ++i) Flat("c000" + std::to_string(i) + ".fit", 300, 200, float(i));
  BatchSteps.Records[1].Values[0] = dir.file("c0001.fit");
  BatchSteps.Records[1].Values[1] = dir.file("r.fit");
  NextStep(43);
  bool closed = false;
  pump.OnPump = [&] {
    const int work = BatchRun.WorkSlot;
    if (closed || BatchRun.InputFileName != dir.file("c0002.fit") || BatchRun.CurrentStep != 2) return;
    TMDIChild* window = ImageWindow(work);
    if (!window || !SlotCloseDeferred(work)) return;
    closed = true;
    window->close();
    EXPECT_TRUE(SlotInUse(work)) << "the step keeps its image until it returns";
  };
  form->Button3->click();
  WaitForEnd();
  ASSERT_TRUE(closed);
  EXPECT_EQ(BatchRun.FilesDone, 2);
  EXPECT_TRUE(std::filesystem::exists(dir.file("r_0002.FIT")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("r_0003.FIT")));
  ASSERT_TRUE(LoadImageFile(49, dir.file("r_0002.FIT")));
  EXPECT_EQ(Store.Image[49].At(1, 50, 50), 3.0f);
}

}  // namespace
}  // namespace astrelon::test
