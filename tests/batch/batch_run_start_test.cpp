// Starting a batch run: folders, the checks of the steps and the start file,
// the target folder and existing target questions, and the run state left for
// the first input.
#include <filesystem>

#include "batch/run/batch_run_start.h"
#include "batch/run/batch_tick.h"
#include "batch/steps/batch_operation_table.h"
#include "batch_fixture.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "core/settings.h"
#include "registration/combination/batch_combination_inputs.h"
#include "scripted_ui.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"

namespace astrelon::test {
namespace {

namespace fs = std::filesystem;

class BatchStart_ : public BatchTest {
protected:
  void SetUp() override {
    BatchTest::SetUp();
    SetEngineUi(&ui);
    savedShiftMode_ = Settings.ShiftMode;
    Settings.ShiftMode = 0;
    BatchRun.Running = 0;
    BatchRun.Abort = 0;
    MultiMarkMode = 0;
    start = dir.file("a0001.fit");
    WriteText(start, "SIMPLE");
    BatchSteps.Records[1].Values[0] = start;
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    BatchRun.Running = 0;
    BatchRun.Abort = 0;
    AbortRequested = 0;
    MultiMarkMode = 0;
    BatchDiscThreshold.clear();
    BatchRun.CentroidMode = 0;
    BatchRun.WeightedAdd = 0;
    BatchRun.UseShiftList = false;
    BatchRun.TargetSlot = BatchRun.WorkSlot = -1;
    SeriesFileList.clear();
    BatchInputHooks = {};
    Settings.ShiftMode = savedShiftMode_;
    BatchTest::TearDown();
  }

  // Appends steps of these operations after the file step.
  static void Steps(std::initializer_list<TBatchOp> ops) { AppendSteps(ops); }
  static bmenuitem& Step(int n) { return BatchSteps.Records[size_t(n)]; }

  // A small FITS image file.
  void WriteImage(const std::string& name) {
    MakeImage(1, 4, 3, {std::vector<float>(12, 7.0f)}, name);
    ASSERT_TRUE(SaveFits(1, -32, name, false, false));
    FreeSlot(1);
  }

  TScriptedUi ui;
  TempDir dir;
  std::string start;
  int savedShiftMode_ = 0;
};

TEST_F(BatchStart_, TargetFolderIsAbsoluteOrTakenFromTheStartFolder) {
  struct Case {
    const char* target;
    const char* folder;
  };
  for (const Case& c : {Case{"out/res.fit", "/data/out/"}, Case{"res.fit", "/data/"}, Case{"", "/data/"},
                        Case{"/abs/x/res.fit", "/abs/x/"}, Case{"../up/res.fit", "/up/"},
                        Case{"out//deep/", "/data/out/deep/"}})
    EXPECT_EQ(BatchTargetFolder("/data/", c.target), c.folder) << c.target;
}

TEST_F(BatchStart_, TheFileStepAloneOrTooManyWindowsStartNothingSilently) {
  EXPECT_FALSE(PrepareBatchRun());
  EXPECT_FALSE(CheckBatchStart());
  Steps({6});
  for (int s = 1; s <= 46; ++s) Store.InUse[size_t(s)] = 1;
  EXPECT_FALSE(PrepareBatchRun());
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(BatchRun.Running.load(), 0);
  Store.InUse[46] = 0;
  EXPECT_TRUE(PrepareBatchRun());
}

TEST_F(BatchStart_, AMissingStartFileOrStepFileStopsTheStartWithItsMessage) {
  Steps({11});
  Step(2).Values[0] = dir.file("dark.fit");
  BatchSteps.Records[1].Values[0] = dir.file("missing.fit");
  EXPECT_FALSE(CheckBatchStart());
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Die Anfangsdatei wurde nicht gefunden!");

  ui.Messages.clear();
  BatchSteps.Records[1].Values[0] = start;
  EXPECT_FALSE(CheckBatchStart());
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Fehler: " + dir.file("dark.fit") + "\r\n konnte nicht geöffnet werden.");
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_FALSE(fs::exists(dir.file("dark.fit")));

  // Every file-name step is checked; parameter files must read.
  for (TBatchOp op : {12, 20, 32, 34, 41, 42, 13, 24, 25}) {
    ResetBatchModule();
    BatchSteps.Records[1].Values[0] = start;
    Steps({op});
    Step(2).Values[0] = dir.file("nothing.par");
    ui.Messages.clear();
    EXPECT_FALSE(PrepareBatchRun()) << op;
    ASSERT_FALSE(ui.Messages.empty()) << op;
    EXPECT_EQ(ui.Messages.back(), "Fehler: " + dir.file("nothing.par") + "\r\n konnte nicht geöffnet werden.");
  }
}

TEST_F(BatchStart_, AnAddStepEndsTheBatch) {
  // A batch read from a file may have steps after the add.
  Steps({4, 5, 10, 6, 7});
  ASSERT_EQ(BatchSteps.StepCount, 6);
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchSteps.StepCount, 4);
  EXPECT_EQ(BatchSteps.Ops[5], -1);
  EXPECT_EQ(BatchSteps.Ops[6], -1);
}

TEST_F(BatchStart_, TheRunStateIsLeftForTheFirstInput) {
  Steps({9, 10});
  Step(3).MarksOrInterpolation = 2;
  BatchRun.FilesDone = 7;
  BatchRun.CurrentStep = 3;
  BatchRun.EndOfRun = true;
  BatchRun.OverwriteAll = true;
  BatchRun.CometCompute = true;
  BatchRun.StarTolerance = 9;
  BatchRun.TargetSlot = 5;
  BatchFittedTransform.A = 3;
  ASSERT_TRUE(PrepareBatchRun());
  const TBatchRunState& s = BatchRun;
  EXPECT_EQ(s.CurrentStep, 1);
  EXPECT_EQ(s.FilesDone, 0);
  EXPECT_EQ(s.FilesCounted, 0);
  EXPECT_EQ(s.TargetSlot, -1);
  EXPECT_EQ(s.WorkSlot, -1);
  EXPECT_EQ(s.CombinedCount, 1);
  EXPECT_EQ(s.StarTolerance, 2.0f);
  EXPECT_EQ(s.StarToleranceAfterCheck, 2.5f);
  EXPECT_TRUE(s.FirstImage && s.NewTarget && s.AskReportProblems && s.CheckStars);
  EXPECT_FALSE(s.EndOfRun || s.OverwriteAll || s.CometCompute || s.ReportProblems || s.AviOpened);
  EXPECT_EQ(s.Running.load(), 1);
  EXPECT_EQ(s.HasAddStep.load(), 1);
  EXPECT_FALSE(s.HasFitStep);
  EXPECT_EQ(s.MarkCount.load(), 2);
  EXPECT_EQ(s.StartFolder, dir.path().string() + "/");
  EXPECT_EQ(s.InputFileName, start);
  EXPECT_EQ(BatchFittedTransform.A, 1.0);
}

TEST_F(BatchStart_, PagesOfTheAddStepGoIntoTheRun) {
  Steps({10});
  Step(2).Values[0] = "1.5";
  Step(2).Values[1] = "-0,25";
  BatchWindow.TimestampTicked = true;
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchRun.CometRunX, 1.5);
  EXPECT_EQ(BatchRun.CometRunY, -0.25);
  EXPECT_TRUE(BatchRun.ByTimestamp);
  EXPECT_EQ(BatchRun.CentroidMode.load(), 0);

  BatchWindow.Page = TAddTargetPage::PlanetMoon;
  BatchWindow.EdgeValue = "42.5";
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchRun.CentroidMode.load(), 1);
  EXPECT_EQ(BatchDiscThreshold, "42.5");
  EXPECT_FALSE(BatchRun.ByTimestamp);
  EXPECT_EQ(BatchRun.CometRunX, 0.0) << "no comet off its page";
  BatchWindow.EdgeDetection = false;
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchRun.CentroidMode.load(), 0);
  EXPECT_EQ(BatchDiscThreshold, "");

  // A comet field that is no number stops the start.
  BatchWindow.Page = TAddTargetPage::NormalComet;
  Step(2).Values[1] = "abc";
  EXPECT_FALSE(PrepareBatchRun());
  EXPECT_EQ(ui.Messages.back(), "'abc' ist keine gültige Zahl");
}

TEST_F(BatchStart_, AMissingTargetFolderIsCreatedOnlyWhenTheUserAgrees) {
  Steps({6});
  BatchSteps.Records[1].Values[1] = "out/res.fit";
  const std::string folder = dir.path().string() + "/out/";
  ui.Answers = {TDialogAnswer::No};
  AbortRequested = 1;
  EXPECT_FALSE(CheckBatchStart());
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Der Zielordner:\r\n" + folder + "\r\nexistiert nicht, soll der Ordner erstellt werden?");
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(BatchRun.Abort.load(), 0);
  EXPECT_EQ(AbortRequested.load(), 0);
  EXPECT_FALSE(fs::exists(folder));

  ui.Answers = {TDialogAnswer::Yes};
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(BatchRun.TargetFolder, folder);
  EXPECT_EQ(BatchRun.TargetName, "res.fit");
  EXPECT_EQ(BatchRun.TargetExt, ".FIT");

  // A folder that cannot be made: a file stands in its way.
  WriteText(dir.file("blocker"), "x");
  BatchSteps.Records[1].Values[1] = "blocker/sub/res.fit";
  ui.Messages.clear();
  ui.Answers = {TDialogAnswer::Yes};
  EXPECT_FALSE(CheckBatchStart());
  EXPECT_EQ(ui.Messages.back(), "Fehler beim Versuch den Zielordner zu erstellen!");
  EXPECT_EQ(BatchRun.Running.load(), 0);
}

TEST_F(BatchStart_, ARefusedStartGivesTheShiftModeBack) {
  Steps({14});
  Step(2).OptionCaption = "Kreuzkorrelation";
  Step(2).MarksOrInterpolation = 3;
  BatchSteps.Records[1].Values[1] = "new/res.fit";
  ui.Answers = {TDialogAnswer::No};
  EXPECT_FALSE(CheckBatchStart());
  EXPECT_EQ(Settings.ShiftMode, 0);
  EXPECT_EQ(MultiMarkMode.load(), 0);
  ui.Answers = {TDialogAnswer::Yes};
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(Settings.ShiftMode, 1);
  EXPECT_EQ(BatchRun.SavedShiftMode, 0);
  EXPECT_EQ(MultiMarkMode.load(), 1);
  EXPECT_TRUE(BatchRun.HasFitStep);
  // The default tick ends the run and gives the mode back.
  EXPECT_FALSE(BatchTick());
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(Settings.ShiftMode, 0);
}

TEST_F(BatchStart_, AnExistingTargetIsAddedToOnlyWhenTheUserSaysSo) {
  Steps({10});
  const std::string target = dir.file("sum.fit");
  WriteImage(target);
  BatchSteps.Records[1].Values[1] = target;

  ui.Answers = {TDialogAnswer::Cancel};
  EXPECT_FALSE(CheckBatchStart());
  EXPECT_EQ(ui.Messages.back(), "Die Zieldatei existiert schon, soll auf dieses Bild aufaddiert werden?");
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(CountOpenWindows(), 0);

  ui.Answers = {TDialogAnswer::No};
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(BatchRun.TargetSlot, -1);
  EXPECT_TRUE(BatchRun.NewTarget);

  ui.Answers = {TDialogAnswer::Yes};
  EXPECT_TRUE(CheckBatchStart());
  ASSERT_TRUE(SlotInUse(BatchRun.TargetSlot));
  EXPECT_EQ(Store.Image[size_t(BatchRun.TargetSlot)].Width, 4);
  EXPECT_EQ(BatchRun.TargetFileName, target);
  EXPECT_FALSE(BatchRun.NewTarget);
  EXPECT_FALSE(BatchRun.ExistingTarget);
  EXPECT_EQ(BatchRun.WorkSlot, -1);
}

TEST_F(BatchStart_, AnExistingTargetIsTheReferenceOfAFitBatch) {
  Steps({4, 14, 6});
  const std::string target = dir.file("ref.fit");
  WriteImage(target);
  BatchSteps.Records[1].Values[1] = target;
  BatchRun.CombineMode = 4;
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(ui.Questions, 0);
  ASSERT_TRUE(SlotInUse(BatchRun.TargetSlot));
  EXPECT_EQ(BatchRun.WorkSlot, BatchRun.TargetSlot);
  EXPECT_TRUE(BatchRun.ExistingTarget);
  EXPECT_EQ(BatchRun.CurrentStep, 3);
  EXPECT_EQ(BatchRun.CombineMode, 0);

  // Without a fit step an existing file under the target name is left alone.
  FreeSlot(BatchRun.TargetSlot);
  BatchSteps.Ops[3] = 5;
  BatchSteps.Records[3] = BatchTableRow(5);
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(BatchRun.TargetSlot, -1);
  EXPECT_EQ(CountOpenWindows(), 0);
}

TEST_F(BatchStart_, TheInputListNamesTheFirstInputAndIsBuiltFirst) {
  Steps({6});
  const std::string listed = dir.file("sub/x.fit");
  BatchSteps.Records[1].Values[0] = "";
  BatchSteps.Records[1].Values[1] = "res.fit";
  BatchRun.InputList = true;
  BatchWindow.DropList = {listed};
  fs::create_directories(dir.path() / "sub");
  int built = 0, folders = 0;
  BatchInputHooks.BuildInputList = [&] { ++built; };
  BatchInputHooks.BuildFolderList = [&] { ++folders; };
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(built, 1);
  EXPECT_EQ(folders, 0);
  EXPECT_EQ(BatchRun.InputFileName, listed);
  EXPECT_EQ(BatchRun.TargetFolder, dir.path().string() + "/sub/");

  BatchRun.InputList = false;
  BatchSteps.Records[1].Values[0] = start;
  BatchWindow.AllFilesInFolder = true;
  EXPECT_TRUE(CheckBatchStart());
  EXPECT_EQ(folders, 1);

  // A loaded shift list that lacks the start file starts at its first name.
  BatchRun.UseShiftList = true;
  SeriesFileList = {dir.file("b0001.fit"), dir.file("b0002.fit")};
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchRun.InputFileName, dir.file("b0001.fit"));
  SeriesFileList.push_back(start);
  ASSERT_TRUE(PrepareBatchRun());
  EXPECT_EQ(BatchRun.InputFileName, start);
}

TEST_F(BatchStart_, TheCometComputationNeedsTheStartFile) {
  Steps({10});
  Step(2).MarksOrInterpolation = 1;
  BatchSteps.Records[1].Values[0] = dir.file("none.fit");
  EXPECT_FALSE(CheckCometComputation());
  EXPECT_EQ(ui.Messages.back(), "Bitte zuerst im 1. Bearbeitungs Schritt die Anfangsdatei auswählen.");
  BatchSteps.Records[1].Values[0] = start;
  EXPECT_TRUE(CheckCometComputation());
  EXPECT_EQ(ui.Messages.back(), "Es wird jetzt die Liste für 2 Bilder durchlaufen, bitte den Anweisungen folgen!");
  EXPECT_TRUE(BatchRun.CometCompute);
  EXPECT_EQ(BatchRun.CometSeriesA, 40);
  EXPECT_EQ(BatchRun.CometSeriesB, 40);
  EXPECT_EQ(BatchRun.Running.load(), 1);
}

}  // namespace
}  // namespace astrelon::test
