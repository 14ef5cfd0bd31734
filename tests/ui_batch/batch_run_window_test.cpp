// Starting a run from the batch window: the status window, pause and abort,
// the end of the run, the star-check prompt's answers and batch files saved
// and loaded through the window.
#include <QPlainTextEdit>
#include <QTest>

#include "batch/inputs/shift_list_file.h"
#include "batch/steps/batch_file.h"
#include "batch_window_fixture.h"

namespace astrelon::test {
namespace {

class BatchRunWindowTest : public BatchWindowTest {
protected:
  // A batch of the file step (an existing start file) and one more step.
  void OneStepBatch() {
    const std::string start = dir.file("a0001.fit");
    WriteText(start, "SIMPLE");
    BatchSteps.Records[1].Values[0] = start;
    NextStep(6);
  }
  static std::string Bytes(const std::string& path) {
    const std::vector<unsigned char> b = ReadAll(path);
    return {b.begin(), b.end()};
  }
};

TEST_F(BatchRunWindowTest, TheFileStepAloneStartsNothing) {
  const std::string start = dir.file("a0001.fit");
  WriteText(start, "SIMPLE");
  BatchSteps.Records[1].Values[0] = start;
  form->Button3->click();
  EXPECT_FALSE(BatchStatusWindowExists() && BatchStatusWindow().isVisible());
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(BatchRunWindowTest, StartOpensTheStatusWindowAndAnUnreadableStartFileEndsTheRun) {
  OneStepBatch();
  form->Button3->click();
  ASSERT_EQ(BatchRun.Running.load(), 1);
  ASSERT_TRUE(BatchStatusWindowExists());
  TForm10& status = BatchStatusWindow();
  EXPECT_TRUE(status.isVisible());
  EXPECT_EQ(status.Button1->text(), "&Abbruch");
  EXPECT_EQ(status.Button3->text(), "&Pause");
  EXPECT_TRUE(status.Button3->isEnabled());
  EXPECT_FALSE(status.Button2->isVisibleTo(&status));
  EXPECT_TRUE(BatchStartPending);
  EXPECT_TRUE(form->Timer1->isActive());
  EXPECT_EQ(BatchRun.StepSlot[1], -1);
  // A second start while the run goes is ignored.
  form->Button3->click();
  EXPECT_TRUE(ui.Messages.empty());
  QTest::qWait(250);
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(status.Label2->text(), "Abbruch!");
  EXPECT_EQ(status.Button1->text(), "&Ok");
  EXPECT_FALSE(status.Button3->isEnabled());
  EXPECT_EQ(form->Timer1->interval(), 100);
  status.Button1->click();
  EXPECT_FALSE(status.isVisible());
}

TEST_F(BatchRunWindowTest, PauseStopsBetweenTicksAndAbortEndsEvenWhilePaused) {
  OneStepBatch();
  int ticks = 0;
  BatchTick = [&ticks] {
    ++ticks;
    if (BatchRun.EndOfRun) BatchRun.Running = 0;
    return true;
  };
  form->Button3->click();
  ASSERT_EQ(BatchRun.Running.load(), 1);
  TForm10& status = BatchStatusWindow();
  QTest::qWait(250);
  EXPECT_GE(ticks, 1);
  status.Button3->click();
  EXPECT_EQ(status.Button3->text(), "&Weiter");
  EXPECT_TRUE(status.Paused());
  EXPECT_FALSE(form->Timer1->isActive());
  const int paused = ticks;
  QTest::qWait(250);
  EXPECT_EQ(ticks, paused);
  // Editing a step while paused does not go on with the run.
  form->SButton1->click();
  EXPECT_FALSE(form->Timer1->isActive());
  status.Button3->click();
  EXPECT_EQ(status.Button3->text(), "&Pause");
  EXPECT_TRUE(form->Timer1->isActive());
  status.Button3->click();
  ASSERT_TRUE(status.Paused());
  status.Button1->click();
  EXPECT_TRUE(BatchRun.EndOfRun);
  EXPECT_EQ(BatchRun.CurrentStep, BatchSteps.StepCount + 1);
  EXPECT_EQ(BatchAbort.load(), 1);
  EXPECT_TRUE(form->Timer1->isActive());
  QTest::qWait(250);
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(status.Button1->text(), "&Ok");
}

TEST_F(BatchRunWindowTest, TheStarCheckAnswersThroughTheRunState) {
  OneStepBatch();
  BatchTick = [] { return false; };  // the run waits
  form->Button3->click();
  ASSERT_EQ(BatchRun.Running.load(), 1);
  TForm9& prompt = StarCheckPrompt();
  prompt.show();
  const QRect s = BatchStatusWindow().frameGeometry();
  EXPECT_EQ(prompt.pos(), QPoint(s.left(), s.top() + s.height()));

  // "Keine Kontrolle mehr": the two questions, once a run.
  prompt.CheckBox1->click();
  EXPECT_FALSE(BatchRun.CheckStars);
  ui.Answers = {TDialogAnswer::Yes, TDialogAnswer::Yes};
  prompt.Button1->click();
  EXPECT_TRUE(BatchRun.PromptAnswered);
  EXPECT_FALSE(prompt.isVisible());
  ASSERT_EQ(ui.Questions, 2);
  EXPECT_EQ(ui.Messages[0], "Soll ich mich wieder melden, wenn es Probleme bei der Positionsbestimmung gibt?");
  EXPECT_EQ(ui.Messages[1], "Soll streng geprüft werden (Seeingeinflüsse)?");
  EXPECT_TRUE(BatchRun.ReportProblems);
  EXPECT_EQ(BatchRun.StarToleranceAfterCheck, 1.9f);
  prompt.show();
  prompt.Button1->click();
  EXPECT_EQ(ui.Questions, 2);

  // No reports: one question, the tolerance stays 2.5.
  BatchRun.AskReportProblems = true;
  ui.Answers = {TDialogAnswer::No};
  prompt.Button1->click();
  EXPECT_EQ(ui.Questions, 3);
  EXPECT_FALSE(BatchRun.ReportProblems);
  EXPECT_EQ(BatchRun.StarToleranceAfterCheck, 2.5f);

  BatchRun.PromptAnswered = false;
  prompt.Button3->click();
  EXPECT_TRUE(BatchRun.SkipImage);
  EXPECT_TRUE(BatchRun.PromptAnswered);
  BatchRun.PromptAnswered = false;
  prompt.Button2->click();
  EXPECT_TRUE(BatchRun.EndOfRun);
  EXPECT_EQ(BatchAbort.load(), 1);
  EXPECT_TRUE(BatchRun.PromptAnswered);
  QTest::keyClick(&prompt, Qt::Key_Escape);
  EXPECT_EQ(AbortRequested.load(), 1);

  // A new run shows every control again, unticked; the comet computation has no skip.
  BatchRun.Running = 0;
  form->Button3->click();
  EXPECT_FALSE(prompt.CheckBox1->isChecked());
  EXPECT_TRUE(prompt.Button3->isVisibleTo(&prompt));
  BatchRun.Running = 0;
  NextStep(10);
  ClickItem(form->RadioGroup1, 1);
  form->Button5->click();
  EXPECT_EQ(ui.Messages.back(), "Es wird jetzt die Liste für 2 Bilder durchlaufen, bitte den Anweisungen folgen!");
  EXPECT_TRUE(BatchRun.CometCompute);
  EXPECT_FALSE(prompt.Button3->isVisibleTo(&prompt));
  EXPECT_FALSE(prompt.CheckBox1->isVisibleTo(&prompt));
}

TEST_F(BatchRunWindowTest, TickingVListeReadsTheChosenShiftList) {
  OneStepBatch();
  NextStep(10);
  TShiftListFile list;
  list.Mode = 2;
  list.Names = {"/x/a1.fit", "/x/a2.fit"};
  list.StarPairs = {TStarPair{1, 2, 3, 4, 1, 2, 3, 4}, TStarPair{1, 2, 3, 4, 2, 3, 4, 5}};
  list.Qualities = {9, 8};
  std::string error;
  const std::string path = VerschiebungslisteSpeichern(dir.file("l.qvl"), list, error);
  ASSERT_FALSE(path.empty()) << error;
  Chosen = {{QString::fromStdString(path)}};
  form->CheckBox4->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::ShiftList);
  EXPECT_TRUE(form->CheckBox4->isChecked());
  EXPECT_TRUE(BatchRun.UseShiftList);
  EXPECT_EQ(BatchRun.ShiftListCount, 2);
  EXPECT_FALSE(BatchRun.ReferenceDropped);
  EXPECT_EQ(form->RadioGroup1->ItemIndex(), 2);
  EXPECT_EQ(SeriesFileList, list.Names);
  // Cancelled: the box is unticked again.
  form->CheckBox4->click();
  form->CheckBox4->click();
  EXPECT_FALSE(form->CheckBox4->isChecked());
  EXPECT_FALSE(BatchRun.UseShiftList);
}

TEST_F(BatchRunWindowTest, ABatchSavedByTheWindowIsTheEnginesAndLoadingClearsFirst) {
  OneStepBatch();
  NextStep(3);
  form->gButton1->click();
  NextStep(10);
  ClickItem(form->RadioGroup1, 2);
  const std::string mine = dir.file("mine");
  Chosen = {{QString::fromStdString(mine)}};
  form->SaveBtn->click();
  EXPECT_EQ(Asked.back(), TBatchBrowse::SaveBatch);
  ASSERT_TRUE(SaveBatchFile(dir.file("engine.qzb")));
  EXPECT_EQ(Bytes(mine + ".qzb"), Bytes(dir.file("engine.qzb")));

  const std::vector<TBatchOp> ops(BatchSteps.Ops.begin(), BatchSteps.Ops.begin() + 5);
  BatchRun.CometValuesSet = true;
  form->AddInputFiles({"/x/b1.fit"});
  form->CheckBox5->setChecked(true);
  BatchWindow.TimestampTicked = true;
  form->CheckBox4->setChecked(true);
  BatchRun.UseShiftList = true;
  form->OpenBtn->click();  // cancelled
  EXPECT_FALSE(BatchRun.CometValuesSet);
  EXPECT_FALSE(BatchRun.InputList);
  EXPECT_FALSE(BatchRun.UseShiftList);
  EXPECT_FALSE(form->CheckBox5->isChecked());
  EXPECT_FALSE(form->CheckBox4->isChecked());
  EXPECT_EQ(form->ListBox1->count(), 0);
  EXPECT_EQ(BatchSteps.StepCount, 4);  // the steps read back from their own text

  form->SpeedButton4->click();
  EXPECT_EQ(BatchSteps.StepCount, 1);
  Chosen = {{QString::fromStdString(mine + ".qzb")}};
  form->OpenBtn->click();
  EXPECT_EQ(std::vector<TBatchOp>(BatchSteps.Ops.begin(), BatchSteps.Ops.begin() + 5), ops);
  EXPECT_EQ(BatchSteps.Records[3].OptionFlags, 2);
  EXPECT_EQ(BatchSteps.Records[4].MarksOrInterpolation, 2);
  EXPECT_EQ(form->Label1->text(), "1. Bearbeitungsschritt");
  Chosen = {};
  form->SaveBtn->click();
  EXPECT_EQ(Starts.back().toStdString(), mine + ".qzb");
}

}  // namespace
}  // namespace astrelon::test
