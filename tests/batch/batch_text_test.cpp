// Batch text: the exact lines written, the parser's rules, and every operation
// written, read and written again.
#include <functional>

#include "batch/steps/batch_operation_table.h"
#include "batch/steps/batch_text.h"
#include "batch_fixture.h"
#include "common/text_codec.h"

namespace astrelon::test {
namespace {

using Lines = std::vector<std::string>;

class BatchText_ : public BatchTest {
protected:
  // Appends a step of operation op with the table's values; returns its record.
  static bmenuitem& Append(TBatchOp op) {
    TBatchStepList& list = BatchSteps;
    const int32_t n = ++list.StepCount;
    EnsureStepCapacity(list, n);
    list.Ops[size_t(n)] = op;
    list.Records[size_t(n)] = BatchTableRow(op);
    return list.Records[size_t(n)];
  }

  // Appends a step whose parameters hold texts of their own ("v<step>.<j>").
  static bmenuitem& AppendWithValues(TBatchOp op) {
    bmenuitem& r = Append(op);
    for (size_t j = 0; j < 4; ++j)
      if (!r.Labels[j].empty()) r.Values[j] = "v" + std::to_string(BatchSteps.StepCount) + "." + std::to_string(j + 1);
    return r;
  }

  static void SetFiles(const std::string& start, const std::string& target) {
    BatchSteps.Records[1].Values[0] = start;
    BatchSteps.Records[1].Values[1] = target;
  }

  // Writes the batch, forgets everything the text carries, reads it back and
  // writes it again: the same steps and the same text in both lists.
  static void ExpectRoundTrip() {
    BatchTextSchreiben();
    const TBatchTextLists first = BatchText;
    const TBatchStepList steps = BatchSteps;
    const TAddTargetPage page = BatchWindow.Page;
    BatchSteps = TBatchStepList();
    BatchWindow = TBatchWindowState();
    BatchRun.ByTimestamp = false;
    BatchRun.CombineMode = 0;
    BatchRun.MosaicFileName = "*.qcm";
    Read(first.Lines);
    ASSERT_EQ(BatchSteps.StepCount, steps.StepCount);
    for (int32_t i = 1; i <= steps.StepCount; ++i) {
      SCOPED_TRACE("step " + std::to_string(i));
      EXPECT_EQ(BatchSteps.Ops[size_t(i)], i == 1 ? 0 : steps.Ops[size_t(i)]);
      EXPECT_EQ(BatchSteps.Records[size_t(i)], steps.Records[size_t(i)]);
    }
    for (size_t i = size_t(steps.StepCount) + 1; i <= size_t(MaxBatchSteps); ++i) ASSERT_EQ(BatchSteps.Ops[i], -1);
    if (steps.Ops[size_t(steps.StepCount)] == 10) {
      EXPECT_EQ(BatchWindow.Page, page);
    }
    BatchTextSchreiben();
    EXPECT_EQ(BatchText.Lines, first.Lines);
    EXPECT_EQ(BatchText.Translated, first.Translated);
  }
};

TEST_F(BatchText_, FileStepAndAStepAsExactLines) {
  SetFiles("/data/m42_001.fit", "/out/m42.fit");
  Append(4).Values[0] = "5";
  BatchTextSchreiben();
  const Lines expected = {"1. DATEIEN FESTLEGEN",
                          "Anfangsdatei   /data/m42_001.fit",
                          "Zieldatei   /out/m42.fit",
                          "Fehlende Dateien der Serie überspringen",
                          "",
                          "2. WERT ADDIEREN",
                          "Wert   5",
                          ""};
  EXPECT_EQ(BatchText.Lines, expected);
  EXPECT_EQ(BatchText.Translated, expected);  // no translation loaded

  // Option off: "Alle Dateien im Ordner" when every file of the folder is
  // taken, otherwise no line at all.
  BatchSteps.Records[1].OptionCaption.clear();
  BatchWindow.AllFilesInFolder = true;
  BatchTextSchreiben();
  EXPECT_EQ(BatchText.Lines[3], "Alle Dateien im Ordner");
  BatchWindow.AllFilesInFolder = false;
  BatchTextSchreiben();
  EXPECT_EQ(BatchText.Lines[3], "");
  EXPECT_EQ(BatchText.Lines[4], "2. WERT ADDIEREN");

  // With the input list an empty start reads as the file list, without the option.
  BatchSteps.Records[1].Values[0].clear();
  BatchSteps.Records[1].OptionCaption = BatchTableRow(0).OptionCaption;
  BatchRun.InputList = true;
  BatchTextSchreiben();
  EXPECT_EQ(BatchText.Translated[1], "Anfangsdatei   Dateiliste");
  EXPECT_EQ(BatchText.Translated[3], "");
  EXPECT_EQ(BatchText.Lines[3], "Fehlende Dateien der Serie überspringen");
}

TEST_F(BatchText_, StepNumbersPutTheNameAfterTheirWidth) {
  for (int i = 2; i <= 100; ++i) Append(4);
  BatchTextSchreiben();
  const std::pair<int, size_t> cases[] = {{9, 3}, {10, 4}, {99, 4}, {100, 5}};
  for (const auto& [step, column] : cases) {
    const std::string header = std::to_string(step) + ". WERT ADDIEREN";
    ASSERT_NE(std::find(BatchText.Lines.begin(), BatchText.Lines.end(), header), BatchText.Lines.end()) << header;
    EXPECT_EQ(header.find("WERT"), column);
  }
  ExpectRoundTrip();
}

TEST_F(BatchText_, UpperCaseTouchesOnlyAToZ) {
  EXPECT_EQ(StepTextUpperCase("3. Bildgröße ändern"), "3. BILDGRößE äNDERN");
  EXPECT_EQ(StepTextUpperCase("Störpixel entfernen+"), "STöRPIXEL ENTFERNEN+");
}

TEST_F(BatchText_, ParserSkipsForeignLinesAndReadsOptionalLinesWherePresent) {
  Read({"1. DATEIEN FESTLEGEN", "Anfangsdatei   /d/a_001.fit", "Zieldatei   /o/sum.fit",
        "Fehlende Dateien der Serie überspringen", "",
        "2. wert addieren", "Wert   7", "",  // lower case: not a header
        "; a comment", "", "",
        "2. BILDGRößE äNDERN", "Pixelanzahl X   640", "Pixelanzahl Y   480", "Kastenfunktion", "MaximumWerte",
        "Interpolation   Lanczos3", "",
        "3. BILD SUBTRAHIEREN", "Dateiname   /d/dark.fit", "Temperaturausgleich", "",
        "4. AN ZIELDATEI ANPASSEN", "Sternanzahl   2", "",
        "5. ZUR ZIELDATEI ADDIEREN", "+ Verschiebung X   0.5", "Sternanzahl   3", "Funktion   Sigma", ""});
  ASSERT_EQ(BatchSteps.StepCount, 5);
  const bmenuitem& file = BatchSteps.Records[1];
  EXPECT_EQ(file.Values[0], "/d/a_001.fit");
  EXPECT_EQ(file.Values[1], "/o/sum.fit");
  EXPECT_EQ(file.OptionCaption, "Fehlende Dateien der Serie überspringen");
  EXPECT_EQ(BatchWindow.ShiftListFolder, "/d/");

  const bmenuitem& resize = BatchSteps.Records[2];
  EXPECT_EQ(BatchSteps.Ops[2], 3);
  EXPECT_EQ(resize.Values[0], "640");
  EXPECT_EQ(resize.Values[1], "480");
  EXPECT_EQ(resize.OptionFlags, 7);
  EXPECT_EQ(resize.MarksOrInterpolation, 4);
  EXPECT_EQ(resize.OptionCaption, "");

  // Temperature compensation without the hot-pixel line.
  EXPECT_EQ(BatchSteps.Records[3].OptionCaption, "");
  EXPECT_EQ(BatchSteps.Records[3].OptionFlags, 1);
  // The marks count of an alignment step without shift, page or option lines.
  EXPECT_EQ(BatchSteps.Records[4].MarksOrInterpolation, 2);
  EXPECT_EQ(BatchSteps.Records[4].OptionCaption, "");

  const bmenuitem& add = BatchSteps.Records[5];
  EXPECT_EQ(add.Values[0], "0.5");
  EXPECT_EQ(add.Values[1], "");  // no Y line: the value stays
  EXPECT_EQ(add.MarksOrInterpolation, 3);
  EXPECT_EQ(BatchRun.CombineMode, 5);
  EXPECT_EQ(BatchWindow.Page, TAddTargetPage::NormalComet);

  BatchTextSchreiben();
  const Lines& t = BatchText.Translated;
  EXPECT_NE(std::find(t.begin(), t.end(), "Anzahl Markierungen   Multi"), t.end());
  EXPECT_NE(std::find(t.begin(), t.end(), "Funktion   Sigma"), t.end());
  EXPECT_NE(std::find(t.begin(), t.end(), "Pixelanzahl X:   640"), t.end());
  EXPECT_NE(std::find(t.begin(), t.end(), "Box Function"), t.end());
}

TEST_F(BatchText_, ValuesAndDefaultsOfShortLines) {
  Read({"1. DATEIEN FESTLEGEN", "Anfangsdatei     /d/a 1.fit  ", "Zieldatei", "Alle Dateien im Ordner", "",
        "2. WERT ADDIEREN", "Wert      5   ", "",
        "3. AUTOMATISCHER STöRFILTER", "Dimensionen", "",
        "4. BILDGRößE X2 HI-F TRI", "Schärfung", "",
        "5. UNIVERSELLER NN-FILTER", "Dateiname   net.nnf", "",
        "6. HISTOGRAMM FUNKTION", "Dateiname   h.qzh", "Minwert   1", "Maxwert   2", "",
        "7. ZUR ZIELDATEI ADDIEREN", "Randerkennung   12.5", "Doppelt so großes Swarp-Bild erstellen",
        "Sternanzahl   1", ""});
  ASSERT_EQ(BatchSteps.StepCount, 7);
  EXPECT_EQ(BatchSteps.Records[1].Values[0], "/d/a 1.fit");
  EXPECT_EQ(BatchSteps.Records[1].Values[1], "");
  EXPECT_EQ(BatchSteps.Records[1].OptionCaption, "");
  EXPECT_TRUE(BatchWindow.AllFilesInFolder);
  EXPECT_EQ(BatchSteps.Records[2].Values[0], "5");
  EXPECT_EQ(BatchSteps.Records[3].Values[0], "2");
  EXPECT_EQ(BatchSteps.Records[4].Values[0], "1");
  EXPECT_EQ(BatchSteps.Records[5].Values[1], "1.0");
  EXPECT_EQ(BatchSteps.Records[6].Values[3], "65535.0");
  EXPECT_EQ(BatchWindow.Page, TAddTargetPage::PlanetMoon);
  EXPECT_TRUE(BatchWindow.EdgeDetection);
  EXPECT_EQ(BatchWindow.EdgeValue, "12.5");
  EXPECT_EQ(BatchSteps.Records[7].OptionCaption, "Doppelt so großes Swarp-Bild erstellen");
  EXPECT_EQ(BatchSteps.Records[7].MarksOrInterpolation, 1);
}

TEST_F(BatchText_, WithoutTheStartLineOnlyTheFileStepRemains) {
  for (int i = 2; i <= 30; ++i) Append(5).Values[0] = "2.0";
  SetFiles("/d/old.fit", "/o/old.fit");
  Read({"1. DATEIEN FESTLEGEN", "Startdatei   x", "2. WERT ADDIEREN", "Wert   1"});
  EXPECT_EQ(BatchSteps.StepCount, 1);
  EXPECT_EQ(BatchSteps.Records[1], BatchTableRow(0));
  for (size_t i = 2; i <= size_t(MaxBatchSteps); ++i) ASSERT_EQ(BatchSteps.Ops[i], -1);
  EXPECT_EQ(BatchSteps.Records[20], BatchTableRow(-1));
  Read({});
  EXPECT_EQ(BatchSteps.StepCount, 1);
}

TEST_F(BatchText_, NoStepBeyond256) {
  Lines text = {"1. DATEIEN FESTLEGEN", "Anfangsdatei   a.fit", "Zieldatei   b.fit", ""};
  for (int i = 2; i <= 300; ++i) {
    text.push_back(std::to_string(i) + ". INVERTIEREN");
    text.push_back("");
  }
  Read(text);
  EXPECT_EQ(BatchSteps.StepCount, MaxBatchSteps);
  EXPECT_EQ(BatchSteps.Records.size(), size_t(MaxBatchSteps) + 1);
  EXPECT_EQ(BatchSteps.Ops[256], 6);
}

TEST_F(BatchText_, EveryOperationSurvivesWritingAndReading) {
  SetFiles("/data/a_001.fit", "/out/sum.fit");
  for (TBatchOp op = 1; op <= BatchOperationCount; ++op)
    if (op != 10) AppendWithValues(op);
  bmenuitem& add = Append(10);  // nothing may follow an add to the target
  add.Values[0] = "0.25";
  add.Values[1] = "-1";
  ExpectRoundTrip();
}

TEST_F(BatchText_, ResizeInEveryModeSurvivesWritingAndReading) {
  for (int32_t flags : {0, 1, 2, 3, 6, 7})
    for (bool antiMoire : {false, true})
      for (int32_t kind = 0; kind < 5; ++kind) {
        bmenuitem& r = Append(3);
        r.OptionFlags = flags;
        r.Values = {"1.5", "0.75", "", ""};
        if (!antiMoire) r.OptionCaption.clear();
        r.MarksOrInterpolation = kind;
      }
  ExpectRoundTrip();
}

TEST_F(BatchText_, OptionsOfEveryKindSurviveWritingAndReading) {
  BatchSteps.Records[1].OptionCaption.clear();
  BatchWindow.AllFilesInFolder = true;
  for (bool on : {false, true}) {
    for (int32_t temp : {0, 1}) {
      bmenuitem& r = AppendWithValues(11);
      r.OptionFlags = temp;
      if (!on) r.OptionCaption.clear();
    }
    for (TBatchOp op : {12, 20, 36}) {
      bmenuitem& r = AppendWithValues(op);
      if (!on) r.OptionCaption.clear();
    }
    for (int32_t marks = 0; marks <= 3; ++marks) {
      bmenuitem& r = Append(14);
      r.MarksOrInterpolation = marks;
      if (!on) r.OptionCaption.clear();
    }
  }
  ExpectRoundTrip();
  EXPECT_TRUE(BatchWindow.AllFilesInFolder);
}

TEST_F(BatchText_, AddToTargetOnEveryPageSurvivesWritingAndReading) {
  struct Page {
    TAddTargetPage page;
    std::string x, y, edge;
    bool timestamp, edgeDetection;
  };
  const Page pages[] = {
      {TAddTargetPage::NormalComet, "", "", "", false, true},
      {TAddTargetPage::NormalComet, "0.5", "-1.25", "", false, true},
      {TAddTargetPage::NormalComet, "0", "2e-3", "", true, true},
      {TAddTargetPage::PlanetMoon, "", "", "30.0", false, true},
      {TAddTargetPage::PlanetMoon, "", "", "12.5", false, true},
      {TAddTargetPage::PlanetMoon, "", "", "30.0", false, false},
      {TAddTargetPage::BayerSpecial, "", "", "", false, true},
  };
  for (const Page& p : pages)
    for (bool swarp : {false, true})
      for (int32_t marks = 0; marks <= 3; ++marks)
        for (int32_t combine = 0; combine < 6; ++combine) {
          SCOPED_TRACE(::testing::Message() << int(p.page) << " '" << p.x << "' " << p.edge << " swarp " << swarp
                                            << " marks " << marks << " function " << combine);
          ResetBatchModule();
          SetFiles("/data/a_001.fit", "/out/sum.fit");
          AppendWithValues(4);
          bmenuitem& r = Append(10);
          r.Values[0] = p.x;
          r.Values[1] = p.y;
          r.MarksOrInterpolation = marks;
          if (!swarp) r.OptionCaption.clear();
          BatchWindow.Page = p.page;
          BatchWindow.EdgeValue = p.edge;
          BatchWindow.EdgeDetection = p.edgeDetection;
          BatchWindow.TimestampTicked = BatchRun.ByTimestamp = p.timestamp;
          BatchRun.MosaicFileName = "/cam/bayer.qcm";
          BatchRun.CombineMode = combine;
          ExpectRoundTrip();
          EXPECT_EQ(BatchRun.CombineMode, combine);
          EXPECT_EQ(BatchRun.ByTimestamp, p.timestamp);
          if (p.page == TAddTargetPage::BayerSpecial) {
            EXPECT_EQ(BatchRun.MosaicFileName, "/cam/bayer.qcm");
          }
          if (p.page == TAddTargetPage::PlanetMoon) {
            EXPECT_EQ(BatchWindow.EdgeDetection, p.edgeDetection);
            if (p.edgeDetection) {
              EXPECT_EQ(BatchWindow.EdgeValue, p.edge);
            }
          }
        }
}

TEST_F(BatchText_, PageLinesOfTheAddStep) {
  SetFiles("a.fit", "b.fit");
  bmenuitem& r = Append(10);
  r.Values = {"0.5", "x", "", ""};
  BatchRun.ByTimestamp = true;
  BatchTextSchreiben();
  const Lines expected = {"2. ZUR ZIELDATEI ADDIEREN", "+ Verschiebung X   0.5", "+ Verschiebung Y   x", "Pro Minute",
                          "Doppelt so großes Swarp-Bild erstellen", "Sternanzahl   0", "Funktion   Add", ""};
  EXPECT_EQ(Lines(BatchText.Lines.end() - 8, BatchText.Lines.end()), expected);
  // A shift below 1e-9 (or not a number) writes no shift lines.
  r.Values = {"1e-10", "abc", "", ""};
  BatchTextSchreiben();
  EXPECT_EQ(BatchText.Lines[6], "Doppelt so großes Swarp-Bild erstellen");
  BatchWindow.Page = TAddTargetPage::BayerSpecial;
  BatchRun.MosaicFileName = "rggb.qcm";
  BatchTextSchreiben();
  EXPECT_EQ(BatchText.Lines[6], "Bayeripol   rggb.qcm");
  EXPECT_EQ(BatchText.Translated[6], "Bayer spezial   rggb.qcm");
}

}  // namespace
}  // namespace astrelon::test
