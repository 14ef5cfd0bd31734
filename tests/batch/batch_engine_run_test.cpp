// Whole batch runs driven tick by tick: targets added without marks, stacks
// of every input, results saved under the target's rule with the overwrite
// question, files that fail, errors and aborts, windows closed meanwhile and
// videos as input.
#include <cstdlib>
#include <fstream>

#include "batch/run/batch_input_load.h"
#include "batch_run_fixture.h"
#include "platform/avi_reader.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/stacking/master_frame_state.h"
#include "store/header_dates.h"
#include "store/image_loader.h"
#include "store/pictures/graphic_to_slot.h"
#include "store/slot_holds.h"

namespace astrelon::test {
namespace {

namespace fs = std::filesystem;

class BatchEngineRunTest : public BatchRunTest {
protected:
  // Files img0001.fit .. of 4 x 3 pixels with the values 1, 2, ... and CCD-TEMP -10, -11, ...
  std::string Series(int count) {
    for (int i = 1; i <= count; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "img%04d.fit", i);
      WriteFlat(name, 4, 3, float(i), -9.0 - i);
    }
    return dir.file("img0001.fit");
  }
  // The file read back into slot 48.
  static std::vector<float> ReadBack(const std::string& path, int plane = 1) {
    FreeSlot(48);
    if (!LoadImageFile(48, path)) {
      ADD_FAILURE() << "cannot read " << path;
      return std::vector<float>(1, -1.0f);
    }
    return PlaneValues(48, plane);
  }
  // The batch once more, its questions answered in turn; the questions asked.
  int RunAgainAnswering(std::initializer_list<TDialogAnswer> answers) {
    ResetRun();
    ui.Answers = answers;
    ui.Questions = 0;
    ui.Messages.clear();
    EXPECT_TRUE(Start());
    Run();
    return ui.Questions;
  }
  // An add-to-target batch without marks.
  void AddBatch(int32_t mode) {
    Steps({10});
    Step(2).MarksOrInterpolation = 0;
    Step(2).OptionCaption.clear();
    BatchRun.CombineMode = mode;
  }
};

TEST_F(BatchEngineRunTest, AddsFiveImagesWithoutMarksAndSavesTheTarget) {
  Files(Series(5), "sum.fit");
  AddBatch(0);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label3, "Keine weiteren Bilder gefunden.");
  EXPECT_EQ(labels.Label1, "5 Bilder Add");
  EXPECT_EQ(labels.Counts.front(), "1 Bild bearbeitet");
  EXPECT_EQ(labels.Counts[1], "2 Bilder bearbeitet");
  const std::string target = dir.file("sum.fit");
  ASSERT_TRUE(Exists(target));
  EXPECT_EQ(ReadBack(target), std::vector<float>(12, 15.0f));
  EXPECT_NE(HistoryText(48).find("5 Bilder Add"), std::string::npos) << HistoryText(48);
  EXPECT_CLOSE(ReadCcdTemperature(48), -12.0, 1e-9);
  EXPECT_TRUE(ui.Messages.empty());
  // The target stays shown; nothing else is left.
  int inUse = 0;
  for (int s = 1; s < 48; ++s) inUse += Store.InUse[size_t(s)];
  EXPECT_EQ(inUse, 1);
}

// A damaged or missing input ends the run; the message names the file and
// the status line shows it, not the image before it.
TEST_F(BatchEngineRunTest, AnInputThatCannotBeReadIsNamed) {
  Files(Series(3), "sum.fit");
  AddBatch(0);
  const std::string damaged = dir.file("img0002.fit");
  std::filesystem::resize_file(damaged, 1000);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_NE(ui.Messages[0].find("img0002.fit"), std::string::npos) << ui.Messages[0];
  EXPECT_EQ(labels.Label1, ShortInputName(damaged));
  // An input list naming a file that is not there.
  ResetRun();
  ui.Messages.clear();
  BatchRun.InputList = true;
  BatchWindow.DropList = {dir.file("img0001.fit"), dir.file("gone.fit")};
  Step(1).Values[0] = dir.file("img0001.fit");
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_EQ(ui.Messages, std::vector<std::string>{dir.file("gone.fit") + "\r\n ist nicht vorhanden."});
}

TEST_F(BatchEngineRunTest, MinAndMaxAndBlankTargetPixels) {
  WriteImage("m0001.fit", 3, 1, {{5, BlankPixel, 1}});
  WriteImage("m0002.fit", 3, 1, {{2, 7, BlankPixel}});
  WriteImage("m0003.fit", 3, 1, {{9, 3, 4}});
  for (int mode : {1, 2}) {
    ResetRun();
    BatchSteps = TBatchStepList();
    Files(dir.file("m0001.fit"), mode == 1 ? "min.fit" : "max.fit");
    AddBatch(mode);
    ASSERT_TRUE(Start());
    Run();
    const std::vector<float> expected = mode == 1 ? std::vector<float>{2, 3, 1} : std::vector<float>{9, 7, 4};
    EXPECT_EQ(ReadBack(dir.file(mode == 1 ? "min.fit" : "max.fit")), expected) << mode;
  }
}

TEST_F(BatchEngineRunTest, AnAbortedAddRunRecordsTheImagesBeforeAndWritesNothing) {
  Files(Series(5), "sum.fit");
  AddBatch(0);
  ASSERT_TRUE(Start());
  ui.OnPump = [&] {
    if (BatchRun.InputFileName == dir.file("img0003.fit") && BatchRun.CurrentStep == 2 && !BatchRun.EndOfRun)
      PressAbort();
  };
  Run();
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_EQ(labels.Label3, "");
  EXPECT_FALSE(Exists(dir.file("sum.fit")));
  ASSERT_TRUE(SlotInUse(BatchRun.TargetSlot));
  EXPECT_NE(HistoryText(BatchRun.TargetSlot).find("2 Bilder Add"), std::string::npos);
  EXPECT_EQ(PlaneValues(BatchRun.TargetSlot, 1), std::vector<float>(12, 3.0f));
}

TEST_F(BatchEngineRunTest, MedianStacksEveryInput) {
  constexpr int count = 1500;
  for (int i = 1; i <= count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%04d.fit", i);
    WriteFlat(name, 2, 2, float(i % 7));
  }
  // A numbered series counts up to 999 only: every image of the folder.
  Files(dir.file("s0001.fit"), "median.fit");
  BatchWindow.AllFilesInFolder = true;
  AddBatch(3);
  ASSERT_TRUE(Start());
  const int ticks = Run();
  EXPECT_LT(ticks, 20) << "the names are collected at once";
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label1, "1500 Bilder Median");
  ASSERT_TRUE(Exists(dir.file("median.fit")));
  EXPECT_EQ(ReadBack(dir.file("median.fit")), std::vector<float>(4, 3.0f));
  EXPECT_NE(HistoryText(48).find("1500 Bilder Median"), std::string::npos);
}

TEST_F(BatchEngineRunTest, TargetNamesAreMadeFreshWhenTheNameIsTaken) {
  Files(Series(2), "");
  AddBatch(0);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_TRUE(Exists(dir.file("Zielbild.fit")));
  // Again, not adding to the existing target: the next free copy name.
  ResetRun();
  Store.Reset();
  Step(1).Values[1] = "Zielbild.fit";
  ui.Answers = {TDialogAnswer::No};
  ASSERT_TRUE(Start());
  Run();
  EXPECT_TRUE(Exists(dir.file("Zielbild_2.fit")));
  EXPECT_EQ(ReadBack(dir.file("Zielbild.fit")), std::vector<float>(12, 3.0f));
  // "Ja" adds to it.
  ResetRun();
  Store.Reset();
  ui.Answers = {TDialogAnswer::Yes};
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(ReadBack(dir.file("Zielbild.fit")), std::vector<float>(12, 6.0f));
}

TEST_F(BatchEngineRunTest, ResultsAreSavedByTheTargetsRuleAndAskBeforeOverwriting) {
  fs::create_directories(dir.path() / "out");
  Files(Series(3), dir.file("out/res.tif"));
  Steps({4});
  Step(2).Values[0] = "1";
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label1, "");
  for (int i = 1; i <= 3; ++i) {
    const std::string name = dir.file("out/res_000" + std::to_string(i) + ".TIF");
    ASSERT_TRUE(Exists(name)) << name;
    EXPECT_EQ(ReadBack(name)[0], float(i + 1)) << name;
  }
  // Again with another value: "Nein" skips the first, "Ja" writes it and every later one.
  Step(2).Values[0] = "100";
  EXPECT_EQ(RunAgainAnswering({TDialogAnswer::No, TDialogAnswer::Yes}), 2);
  ASSERT_FALSE(ui.Messages.empty());
  EXPECT_EQ(ui.Messages.front(),
            "res_0001.TIF\r\nJa       ->  diese und alle weiteren Dateien überschreiben\r\n"
            "Nein    ->  diese Datei überspringen\r\nAbbrechen ->  Stapel Bearbeitung abbrechen");
  EXPECT_EQ(ReadBack(dir.file("out/res_0001.TIF"))[0], 2.0f);
  EXPECT_EQ(ReadBack(dir.file("out/res_0002.TIF"))[0], 102.0f);
  EXPECT_EQ(ReadBack(dir.file("out/res_0003.TIF"))[0], 103.0f);
  // "Abbrechen" ends the run.
  RunAgainAnswering({TDialogAnswer::Cancel});
  EXPECT_EQ(labels.Label2, "Abbruch!");
}

TEST_F(BatchEngineRunTest, OtherFormatsAndNames) {
  fs::create_directories(dir.path() / "out");
  // "res*": "QZ_" and the input's name, written as FITS.
  Files(Series(2), dir.file("out/res*"));
  Steps({21});
  ASSERT_TRUE(Start());
  Run();
  EXPECT_TRUE(Exists(dir.file("out/QZ_img0001.fit")));
  EXPECT_TRUE(Exists(dir.file("out/QZ_img0002.fit")));
  // ".jpeg" writes JPEG under ".JPE"; ".f" writes FITS under ".fit".
  for (const char* target : {"out/j.jpeg", "out/f.f", "out/b.bmp", "out/p.png"}) {
    ResetRun();
    Step(1).Values[1] = dir.file(target);
    ASSERT_TRUE(Start());
    Run();
  }
  const std::string jpeg = dir.file("out/j_0001.JPE");
  ASSERT_TRUE(Exists(jpeg));
  std::ifstream in(jpeg, std::ios::binary);
  unsigned char head[3] = {};
  in.read(reinterpret_cast<char*>(head), 3);
  EXPECT_EQ(head[0], 0xFF);
  EXPECT_EQ(head[1], 0xD8);
  if (std::system("identify -version >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(("identify " + jpeg + " | grep -q JPEG").c_str()), 0);
  }
  EXPECT_TRUE(Exists(dir.file("out/f_0002.fit")));
  EXPECT_TRUE(Exists(dir.file("out/b_0002.BMP")));
  EXPECT_TRUE(Exists(dir.file("out/p_0002.PNG")));
}

TEST_F(BatchEngineRunTest, AFileThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  // A folder where the first result goes cannot be replaced by a file.
  fs::create_directories(dir.path() / "out" / "res_0001.FIT");
  Files(Series(2), dir.file("out/res.fit"));
  Steps({4});
  BatchRun.OverwriteAll = true;
  ASSERT_TRUE(Start());
  BatchRun.OverwriteAll = true;
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(ui.Messages, std::vector<std::string>{"Fehler beim Abspeichern der Datei\r\n" + dir.file("out/res_0001.FIT")});
  EXPECT_TRUE(Exists(dir.file("out/res_0002.FIT")));
}

TEST_F(BatchEngineRunTest, SplitPlanesWritesThreeGreyImagesAndNothingElse) {
  fs::create_directories(dir.path() / "out");
  WriteImage("img.fit", 2, 1, {{1, 2}, {3, 4}, {5, 6}});
  Files(dir.file("img.fit"), dir.file("out/r.fit"));
  Steps({33});
  ASSERT_TRUE(Start());
  Run();
  std::vector<std::string> written;
  for (const auto& e : fs::directory_iterator(dir.path() / "out")) written.push_back(e.path().filename().string());
  std::sort(written.begin(), written.end());
  EXPECT_EQ(written, (std::vector<std::string>{"Blau_von_img.FIT", "Gruen_von_img.FIT", "Rot_von_img.FIT"}));
  EXPECT_EQ(ReadBack(dir.file("out/Gruen_von_img.FIT")), (std::vector<float>{3, 4}));
  EXPECT_EQ(Store.Image[48].PlaneCount, 1);
  // Again: each plane asks before it replaces its earlier file.
  EXPECT_EQ(RunAgainAnswering({TDialogAnswer::No, TDialogAnswer::Yes}), 2);
  EXPECT_EQ(ui.Messages.at(0).substr(0, 16), "Rot_von_img.FIT\r");
}

TEST_F(BatchEngineRunTest, AMissingDarkIsReportedOnceAndAGoodOneStaysLoaded) {
  fs::create_directories(dir.path() / "out");
  WriteText(dir.file("dark.fit"), "SIMPLE  =                    T");
  Files(Series(3), dir.file("out/r.fit"));
  Steps({11});
  Step(2).Values[0] = dir.file("dark.fit");
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  const std::string message = "Fehler: \r\n" + dir.file("dark.fit") + "\r\n konnte nicht geladen werden.";
  EXPECT_EQ(std::count(ui.Messages.begin(), ui.Messages.end(), message), 1);
  EXPECT_EQ(ReadBack(dir.file("out/r_0003.FIT"))[0], 3.0f);
  // A dark that loads is subtracted and kept for the following images.
  WriteFlat("dark2.fit", 4, 3, 0.5f);
  ResetRun();
  BatchRun.OverwriteAll = true;
  Step(2).Values[0] = dir.file("dark2.fit");
  std::vector<int32_t> kept;
  ui.OnPump = [&] {
    if (BatchRun.CurrentStep == 2 && BatchRun.StepSlot[2] >= 1) kept.push_back(BatchRun.StepSlot[2]);
  };
  ui.Answers = {TDialogAnswer::Yes};
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(ReadBack(dir.file("out/r_0003.FIT"))[0], 2.5f);
  ASSERT_GE(kept.size(), 2u);
  EXPECT_EQ(std::count(kept.begin(), kept.end(), kept.front()), int(kept.size()));
  EXPECT_FALSE(SlotInUse(kept.front())) << "closed at the end";
}

TEST_F(BatchEngineRunTest, ADarkOfAnotherSizeIsReportedOncePerRunAndLeftOut) {
  fs::create_directories(dir.path() / "out");
  WriteFlat("dark.fit", 5, 3, 0.5f);
  Files(Series(3), dir.file("out/r.fit"));
  Steps({11});
  Step(2).Values[0] = dir.file("dark.fit");
  const std::string message = DarkSizeDiffersText(4, 3, 5, 3);
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE(run);
    ResetRun();
    BatchRun.OverwriteAll = true;
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    EXPECT_EQ(std::count(ui.Messages.begin(), ui.Messages.end(), message), run) << "once in every run";
    // Every image went on unchanged.
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(ReadBack(dir.file("out/r_000" + std::to_string(k) + ".FIT"))[0], float(k));
  }
}

TEST_F(BatchEngineRunTest, AValueThatIsNoNumberStopsTheRunUntilAbort) {
  Files(Series(2), dir.file("r.fit"));
  Steps({7});
  Step(2).Values[0] = "0.5";
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(BatchRun.Running.load(), 1) << "the run waits";
  EXPECT_EQ(ui.Messages, std::vector<std::string>{"'0.5' ist keine gültige Zahl"});
  PressAbort();
  Run();
  EXPECT_EQ(BatchRun.Running.load(), 0);
  EXPECT_EQ(labels.Label2, "Abbruch!");
}

TEST_F(BatchEngineRunTest, ClosingTheWorkWindowDuringAStepDropsTheImage) {
  fs::create_directories(dir.path() / "out");
  for (int i = 1; i <= 3; ++i) WriteFlat("w000" + std::to_string(i) + ".fit", 200, 150, float(i));
  Files(dir.file("w0001.fit"), dir.file("out/r.fit"));
  Steps({43});
  bool closedDuringStep = false;
  // The image window's close: deferred while a step works on the slot.
  ui.OnPump = [&] {
    const int work = BatchRun.WorkSlot;
    if (closedDuringStep || BatchRun.InputFileName != dir.file("w0002.fit") || !SlotCloseDeferred(work)) return;
    RequestSlotClose(work);
    closedDuringStep = true;
  };
  ASSERT_TRUE(Start());
  Run();
  ASSERT_TRUE(closedDuringStep);
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Counts[labels.Counts.size() - 2], "2 Bilder bearbeitet");
  EXPECT_TRUE(Exists(dir.file("out/r_0001.FIT")));
  EXPECT_TRUE(Exists(dir.file("out/r_0002.FIT")));
  EXPECT_FALSE(Exists(dir.file("out/r_0003.FIT")));
  EXPECT_EQ(ReadBack(dir.file("out/r_0002.FIT"))[0], 3.0f);
  // Between ticks a closed target ends the run.
  ResetRun();
  Store.Reset();
  BatchSteps = TBatchStepList();
  Files(Series(3), "sum.fit");
  AddBatch(0);
  ui.OnPump = [&] {
    if (BatchRun.InputFileName == dir.file("img0002.fit") && SlotInUse(BatchRun.TargetSlot) &&
        !SlotCloseDeferred(BatchRun.TargetSlot))
      FreeSlot(BatchRun.TargetSlot);
  };
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_FALSE(Exists(dir.file("sum.fit")));
}

TEST_F(BatchEngineRunTest, AVideoRunsFrameByFrame) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  const std::string video = dir.file("v.avi");
  ASSERT_EQ(std::system(("ffmpeg -y -f lavfi -i testsrc=size=16x12:rate=25 -frames:v 1200 -c:v rawvideo -pix_fmt gray " +
                         video + " >/dev/null 2>&1").c_str()),
            0);
  // The sum of the frames read directly.
  std::vector<float> sum(16 * 12, 0.0f);
  {
    TAviReader reader;
    ASSERT_TRUE(OpenAviStream(reader, video, false));
    ASSERT_EQ(reader.FrameCount, 1200);
    for (int i = 0; i < 1200; ++i) {
      ASSERT_TRUE(ReadAviFrame(reader, i, false));
      ASSERT_TRUE(GraphicToSlot(reader.Frame, 40, true));
      const std::vector<float> v = PlaneValues(40, 1);
      for (size_t k = 0; k < v.size(); ++k) sum[k] += v[k];
    }
    FreeSlot(40);
  }
  Files(video, "sum.fit");
  AddBatch(0);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label1, "1200 Bilder Add");
  EXPECT_EQ(ReadBack(dir.file("sum.fit")), sum);
  EXPECT_EQ(BatchRun.AviInput.load(), 0);
  EXPECT_EQ(StackVideo, nullptr);
}

}  // namespace
}  // namespace astrelon::test
