// Batch files ".qzb", the history cards of a step, and bad input.
#include <filesystem>
#include <fstream>

#include "batch/steps/batch_file.h"
#include "batch/steps/batch_operation_table.h"
#include "batch/steps/step_history_cards.h"
#include "batch_fixture.h"
#include "common/engine_ui.h"
#include "common/text_codec.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class BatchFile_ : public BatchTest {
protected:
  void SetUp() override {
    BatchTest::SetUp();
    SetEngineUi(&ui);
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    BatchTest::TearDown();
  }

  static void AddStep(TBatchOp op, const std::string& value) {
    TBatchStepList& list = BatchSteps;
    const int32_t n = ++list.StepCount;
    list.Ops[size_t(n)] = op;
    list.Records[size_t(n)] = BatchTableRow(op);
    list.Records[size_t(n)].Values[0] = value;
  }

  static std::string Text(const std::string& path) {
    const std::vector<unsigned char> bytes = ReadAll(path);
    return std::string(bytes.begin(), bytes.end());
  }

  TEngineUi ui;
  TempDir dir;
};

TEST_F(BatchFile_, WritesTextCometValuesAndInputListWithCrLf) {
  BatchSteps.Records[1].Values = {"/d/a_001.fit", "/o/sum.fit", "", ""};
  AddStep(4, "5");
  BatchRun.CometValuesSet = true;
  BatchRun.CometPerMinuteX = 1.0 / 3;
  BatchRun.CometPerMinuteY = -2.5;
  BatchRun.CometPerFrameX = 1e-20;
  BatchRun.CometPerFrameY = 123456.789;
  BatchRun.InputList = true;
  BatchWindow.DropList = {"/d/ä 1.fit", "/d/b.fit"};
  const std::string f = dir.file("run.qzb");
  ASSERT_TRUE(SaveBatchFile(f));
  EXPECT_EQ(Text(f),
            "1. DATEIEN FESTLEGEN\r\nAnfangsdatei   /d/a_001.fit\r\nZieldatei   /o/sum.fit\r\n"
            "Fehlende Dateien der Serie überspringen\r\n\r\n2. WERT ADDIEREN\r\nWert   5\r\n\r\n"
            "VDiffBerechnet\r\n0.333333333333333\r\n-2.5\r\n1E-20\r\n123456.789\r\n"
            "Eingangsliste\r\n/d/ä 1.fit\r\n/d/b.fit\r\n\r\n");

  // Read back into a fresh batch: the same steps, values, list and text.
  const TBatchStepList steps = BatchSteps;
  ResetBatchModule();
  BatchWindow.TimestampTicked = true;
  BatchRun.UseShiftList = true;
  ASSERT_TRUE(LoadBatchFile(f));
  EXPECT_EQ(BatchSteps.StepCount, 2);
  EXPECT_EQ(BatchSteps.Records[2], steps.Records[2]);
  EXPECT_EQ(BatchSteps.Records[1], steps.Records[1]);
  EXPECT_TRUE(BatchRun.CometValuesSet);
  EXPECT_NEAR(BatchRun.CometPerMinuteX, 1.0 / 3, 1e-15);  // 15 significant digits
  EXPECT_EQ(BatchRun.CometPerMinuteY, -2.5);
  EXPECT_EQ(BatchRun.CometPerFrameX, 1e-20);
  EXPECT_EQ(BatchRun.CometPerFrameY, 123456.789);
  EXPECT_TRUE(BatchRun.InputList);
  EXPECT_EQ(BatchWindow.DropList, (Lines{"/d/ä 1.fit", "/d/b.fit"}));
  EXPECT_FALSE(BatchWindow.TimestampTicked);
  EXPECT_FALSE(BatchRun.UseShiftList);
  EXPECT_EQ(BatchWindow.ShiftListFolder, "/d/");
  const std::string g = dir.file("again.qzb");
  ASSERT_TRUE(SaveBatchFile(g));
  EXPECT_EQ(Text(g), Text(f));
}

TEST_F(BatchFile_, BlocksAnywhereAndBrokenCometValues) {
  const auto parse = [](const std::string& text) { return ParseBatchFile(text); };
  // The list ends at its empty line; reading goes on after it.
  TBatchFile b = parse("1. DATEIEN FESTLEGEN\nEingangsliste\na.fit\nb.fit\nc.fit\n\nAnfangsdatei   x\n");
  EXPECT_EQ(b.InputFiles, (Lines{"a.fit", "b.fit", "c.fit"}));
  EXPECT_EQ(b.Lines, (Lines{"1. DATEIEN FESTLEGEN", "Anfangsdatei   x"}));
  b = parse("VDiffBerechnet\n1\n2,5\n3\n4\nrest");
  EXPECT_TRUE(b.CometValuesSet);
  EXPECT_EQ(b.Comet, (std::array<double, 4>{1, 2.5, 3, 4}));
  EXPECT_EQ(b.Lines, Lines{"rest"});
  // Missing or non-numeric values: no comet values, the other lines stay text.
  b = parse("VDiffBerechnet\n1\n2\nEingangsliste\nx.fit");
  EXPECT_FALSE(b.CometValuesSet);
  EXPECT_EQ(b.InputFiles, Lines{"x.fit"});
  b = parse("VDiffBerechnet\n1\nzwei\n3\n4");
  EXPECT_FALSE(b.CometValuesSet);
  EXPECT_EQ(b.Lines, (Lines{"zwei", "3", "4"}));
  b = parse("VDiffBerechnet\n1\n2\n3\n1e999");
  EXPECT_FALSE(b.CometValuesSet);
  b = parse("VDiffBerechnet\n1\n2\n3\n1.7976931348623157e308");  // 15 digits of it would overflow
  EXPECT_FALSE(b.CometValuesSet);
  b = parse("VDiffBerechnet");
  EXPECT_FALSE(b.CometValuesSet);
}

TEST_F(BatchFile_, Windows1252FileReadsAsItsUtf8Twin) {
  const std::string utf8 =
      "1. DATEIEN FESTLEGEN\r\nAnfangsdatei   /d/Mond_ä1.fit\r\nZieldatei   /o/s.fit\r\n\r\n"
      "2. BILDGRößE äNDERN\r\nX-Faktor   2\r\nY-Faktor   2\r\nInterpolation   dSinc\r\n\r\n"
      "3. RAND HINZUFüGEN\r\nOben plus   1\r\nUnten plus   2\r\nLinks plus   3\r\nRechts plus   4\r\n\r\n"
      "4. STöRPIXEL ENTFERNEN+\r\n\r\n";
  WriteText(dir.file("utf8.qzb"), utf8);
  WriteText(dir.file("cp1252.qzb"), Utf8ToWindows1252(utf8));
  ASSERT_TRUE(LoadBatchFile(dir.file("utf8.qzb")));
  const TBatchStepList fromUtf8 = BatchSteps;
  ASSERT_EQ(fromUtf8.StepCount, 4);
  EXPECT_EQ(fromUtf8.Ops[3], 2);
  EXPECT_EQ(fromUtf8.Records[2].MarksOrInterpolation, 3);
  EXPECT_EQ(fromUtf8.Records[3].Values[3], "4");
  EXPECT_EQ(fromUtf8.Ops[4], 29);
  EXPECT_EQ(fromUtf8.Records[1].Values[0], "/d/Mond_ä1.fit");
  ResetBatchModule();
  ASSERT_TRUE(LoadBatchFile(dir.file("cp1252.qzb")));
  EXPECT_EQ(BatchSteps.StepCount, fromUtf8.StepCount);
  for (size_t i = 1; i <= 4; ++i) {
    EXPECT_EQ(BatchSteps.Ops[i], fromUtf8.Ops[i]);
    EXPECT_EQ(BatchSteps.Records[i], fromUtf8.Records[i]);
  }
}

TEST_F(BatchFile_, UnreadableFileChangesNothing) {
  AddStep(5, "2.0");
  BatchText.Lines = {"kept"};
  BatchRun.CometValuesSet = true;
  BatchWindow.DropList = {"a.fit"};
  EXPECT_FALSE(LoadBatchFile(dir.file("missing.qzb")));
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_EQ(ui.Messages[0], "Die Datei " + dir.file("missing.qzb") + " konnte nicht geöffnet werden.");
  EXPECT_FALSE(LoadBatchFile(dir.path().string()));  // a folder
  EXPECT_EQ(BatchSteps.StepCount, 2);
  EXPECT_EQ(BatchText.Lines, Lines{"kept"});
  EXPECT_TRUE(BatchRun.CometValuesSet);
  EXPECT_EQ(BatchWindow.DropList, Lines{"a.fit"});

  // A file that cannot be written leaves the old one and says so.
  EXPECT_FALSE(SaveBatchFile(dir.file("no/such/folder/x.qzb")));
  EXPECT_EQ(ui.Messages.back(), "Fehler beim Abspeichern der Datei\r\n" + dir.file("no/such/folder/x.qzb"));
  // Nothing is written while the batch has no step.
  BatchSteps.StepCount = 0;
  EXPECT_TRUE(SaveBatchFile(dir.file("empty.qzb")));
  EXPECT_FALSE(fs::exists(dir.file("empty.qzb")));
}

// Damaged files read as far as they go and leave a batch that writes and reads
// back to itself.
TEST_F(BatchFile_, DamagedFilesReadAsFarAsTheyGo) {
  const std::string good =
      "1. DATEIEN FESTLEGEN\r\nAnfangsdatei   /d/a_001.fit\r\nZieldatei   /o/s.fit\r\n\r\n"
      "2. WERT ADDIEREN\r\nWert   5\r\n\r\n3. ZUR ZIELDATEI ADDIEREN\r\nKreuzkorrelation\r\nSternanzahl   2\r\n"
      "Funktion   Max\r\n\r\nVDiffBerechnet\r\n1\r\n2\r\n3\r\n4\r\nEingangsliste\r\na.fit\r\n\r\n";
  std::string longLine = good.substr(0, 60) + std::string(10 << 20, 'x') + "\r\n" + good.substr(60);
  std::string nuls = good;
  nuls[70] = '\0';
  nuls[5] = '\0';
  std::string lonelyCr = good;
  for (size_t i = 0; i + 1 < lonelyCr.size(); ++i)
    if (lonelyCr[i] == '\r' && lonelyCr[i + 1] == '\n') lonelyCr.erase(i + 1, 1);
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += char((i * 7919) & 255);
  std::string manySteps = "1. DATEIEN FESTLEGEN\nAnfangsdatei   a\nZieldatei   b\n\n";
  for (int i = 2; i <= 300; ++i) manySteps += std::to_string(i) + ". WERT ADDIEREN\nWert   " + std::to_string(i) + "\n\n";
  manySteps += "300. WERT ADDIEREN\nWert   1\n";
  const std::pair<const char*, std::string> files[] = {
      {"empty", ""},
      {"binary", binary},
      {"cut in the add step", good.substr(0, 140)},
      {"cut in the comet block", good.substr(0, good.find("3\r\n4"))},
      {"cut in the list", good.substr(0, good.size() - 3)},
      {"10 MB line", longLine},
      {"lone CR", lonelyCr},
      {"NUL bytes", nuls},
      {"invalid UTF-8", good.substr(0, 50) + "\xC3\x28\xFF\xFE" + good.substr(50)},
      {"step 300", manySteps},
  };
  for (const auto& [name, text] : files) {
    SCOPED_TRACE(name);
    ResetBatchModule();
    const std::string f = dir.file("bad.qzb");
    WriteText(f, text);
    ASSERT_TRUE(LoadBatchFile(f));
    EXPECT_GE(BatchSteps.StepCount, 1);
    EXPECT_LE(BatchSteps.StepCount, MaxBatchSteps);
    EXPECT_LE(BatchSteps.Records.size(), size_t(MaxBatchSteps) + 1);
    ASSERT_TRUE(SaveBatchFile(dir.file("once.qzb")));
    ASSERT_TRUE(LoadBatchFile(dir.file("once.qzb")));
    ASSERT_TRUE(SaveBatchFile(dir.file("twice.qzb")));
    EXPECT_EQ(Text(dir.file("twice.qzb")), Text(dir.file("once.qzb")));
  }
  // The text before the cut is kept.
  ResetBatchModule();
  WriteText(dir.file("cut.qzb"), good.substr(0, good.find("Sternanzahl")));
  ASSERT_TRUE(LoadBatchFile(dir.file("cut.qzb")));
  EXPECT_EQ(BatchSteps.StepCount, 3);
  EXPECT_EQ(BatchSteps.Records[2].Values[0], "5");
  EXPECT_EQ(BatchWindow.Page, TAddTargetPage::PlanetMoon);
  // Only the file step when the start line is missing.
  WriteText(dir.file("start.qzb"), good.substr(good.find("Zieldatei")));
  ASSERT_TRUE(LoadBatchFile(dir.file("start.qzb")));
  EXPECT_EQ(BatchSteps.StepCount, 1);
}

// Inputs kept from fuzzing the batch file reader.
TEST_F(BatchFile_, KeptFuzzInputsReadBackToThemselves) {
  int inputs = 0;
  for (const auto& entry : fs::directory_iterator(DataFile("fuzz/batch"))) {
    SCOPED_TRACE(entry.path().string());
    ResetBatchModule();
    ASSERT_TRUE(LoadBatchFile(entry.path().string()));
    ASSERT_TRUE(SaveBatchFile(dir.file("once.qzb")));
    ASSERT_TRUE(LoadBatchFile(dir.file("once.qzb")));
    ASSERT_TRUE(SaveBatchFile(dir.file("twice.qzb")));
    EXPECT_EQ(Text(dir.file("twice.qzb")), Text(dir.file("once.qzb")));
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

TEST_F(BatchFile_, StepHistoryCardsFromTheTranslatedText) {
  MakeImage(1, 2, 2, {{1, 2, 3, 4}});
  BatchSteps.Records[1].Values = {"/d/a.fit", "/o/s.fit", "", ""};
  AddStep(4, "5");
  AddStep(3, "2.0");
  BatchSteps.Records[3].Values[1] = "2.0";
  BatchSteps.Records[3].OptionFlags = 1;
  BatchTextSchreiben();
  AddHistoryCard(1, "Geladen", 0);
  AddStepHistoryCards(1, 3);
  EXPECT_EQ(HistoryText(1), "Geladen|BILDGRoessE aeNDERN, X-Faktor   2.0, Y-Faktor   2.0, Anti Moir Filter|"
                            "Box Function, Interpolation   Bikubisch");
  EXPECT_EQ(Store.NewHistoryCard[1], 1);
  AddStepHistoryCards(1, 2);
  EXPECT_EQ(HistoryText(1).substr(HistoryText(1).rfind('|') + 1), "WERT ADDIEREN, Wert   5");
  // No such step: nothing recorded.
  const std::string before = HistoryText(1);
  AddStepHistoryCards(1, 9);
  EXPECT_EQ(HistoryText(1), before);
}

}  // namespace
}  // namespace astrelon::test
