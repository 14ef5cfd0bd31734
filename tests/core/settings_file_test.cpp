// The settings file "astrelon.ini": keys, defaults, conversions, packed strings.
#include "core/settings_file.h"

#include <sys/stat.h>

#include <filesystem>

#include "common/engine_ui.h"
#include "common/text_codec.h"
#include "core/funktion_defs.h"
#include "core/packed_params.h"
#include "core/settings.h"
#include "test_support.h"

namespace astrelon {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    ResetSettings();
    FunktionDefTable = DefaultFunktionDefTable();
  }
  void TearDown() override { SetUp(); }

  static void Apply(const std::string& text) { ApplySettingsLines(SplitLines(text)); }
  // The line of `key` in the written file.
  static std::string WrittenLine(const std::string& key) {
    for (const auto& line : SplitLines(SettingsFileText()))
      if (line.rfind(key + ": ", 0) == 0) return line;
    return "<missing>";
  }
};

TEST_F(SettingsFileTest, KeyTableHasSeventyOneKeysAndNoKeyIsAPrefixOfAnother) {
  ASSERT_EQ(SettingsKeys.size(), 71u);
  for (const auto& a : SettingsKeys)
    for (const auto& b : SettingsKeys) {
      if (&a != &b) EXPECT_NE(std::string(b.Key).rfind(a.Key, 0), 0u) << a.Key << " / " << b.Key;
    }
}

TEST_F(SettingsFileTest, FreshProgramWritesAllKeysWithTheirDefaultsAndOneBlankLine) {
  Settings.HistLeft = Settings.HistTop = Settings.HistHeight = -1;
  const auto lines = SplitLines(SettingsFileText());
  ASSERT_EQ(lines.size(), 72u);
  for (size_t k = 0; k < 71; ++k) EXPECT_EQ(lines[k].rfind(std::string(SettingsKeys[k].Key) + ": ", 0), 0u);
  EXPECT_EQ(lines[71], " ");
  EXPECT_EQ(WrittenLine("Histo Min%"), "Histo Min%: 0.2");
  EXPECT_EQ(WrittenLine("Hotpixel Sigma"), "Hotpixel Sigma: 4");
  EXPECT_EQ(WrittenLine("Zoom"), "Zoom: 6");
  EXPECT_EQ(WrittenLine("Fparam3"), "Fparam3: 0A321045110201100725150808014080");
  EXPECT_EQ(WrittenLine("BlinkzeitM10"), "BlinkzeitM10: 10");
  EXPECT_EQ(WrittenLine("Farbe"), "Farbe: 16777215");
  // Default filter positions: function 1 all zero, function 2 at 0.5 (80 = 50 hex).
  EXPECT_EQ(WrittenLine("Fparam1").substr(9, 14), "00000005050000");
}

TEST_F(SettingsFileTest, EveryKeyRoundTripsWithNonDefaultValues) {
  auto& S = Settings;
  auto& O = Options;
  S.FitsSaveFormat = 32;
  S.JpegQuality = 77;
  S.HistogramMenuChecked = 0;
  S.FitsHeaderChecked = 1;
  for (int k = 1; k <= 8; ++k) S.RecentFiles[size_t(k)] = "/data/bild " + std::to_string(k) + ".fit";
  S.MainLeft = 11, S.MainTop = 22, S.MainWidth = 1333, S.MainHeight = 944;
  S.HistLeft = 5, S.HistTop = 6, S.HistWidth = 400, S.HistHeight = 120;
  O.Scale = 0;
  S.FitsExtension = ".fts", O.FitsExtFts = 1;
  S.InterpolationKind = 4;
  O.Preview = 0;
  S.HistoLowPercent = 0.5, S.HistoHighPercent = 99.5;
  S.InfoPanelVisible = 0;
  O.FitsFlip = 0;
  S.TextFont = "DejaVu Sans";
  S.TextOptions = 300;
  S.TextColour = 255;
  S.Text = "Größe M42";
  S.TextStyle = 5;
  O.RawInterpolation = 1, O.BlackToZero = 1, O.FullPath = 0, O.PsfScale = 0;
  S.PngCompression = 9;
  O.PngInterlaced = 1;
  S.FftCurveKeep = 1;
  O.TiffScale = 1;
  S.NetworkFolder = "/nn";
  S.ZoomEntry = 9;  // 25 %
  S.BlinkTimeTenths = 5;
  O.RScaleOff = 1;
  S.TextTransparency = 20;
  O.Highlight = 1, O.ImageBuffer = 0;
  for (int k = 1; k <= 6; ++k) S.RecentFunctions[size_t(k)] = "Funktion " + std::to_string(k);
  S.DemosaicMethod = 3;
  O.Simd = 0, O.GammaAdjust = 0, O.Multicore = 0;
  FunktionDefTable[1].Trackbar[0].Position = 0.25f;
  FunktionDefTable[9].CheckBox[0].Checked = 0;
  FunktionDefTable[9].CheckBox[1].Checked = 1;
  FunktionDefTable[21].Trackbar[2].Position = 1.0f;
  O.ToolbarTint = 0, O.PackedFlag23 = 1;
  S.PsfParamA = -20, S.PsfParamB = 35, S.FftNoiseParam1 = 3.5, S.FftNoiseParam2 = 17, S.ShiftMode = 3;
  S.PaletteFile = "/pal.png";
  S.HistTransparent = 1;
  S.NetworkSetting = 2.25;
  O.YuvLoad = 1, O.ArrowKeys = 0;
  S.CutoutWidth = 800;
  S.CutoutAspect = "16:9";
  S.HotPixelSigma = 3.5;
  S.TiffSaveFormat = 1;
  S.ForeignLines = {"Fremder Schluessel: 1"};

  const std::string text = SettingsFileText();
  const TSettingsVars savedS = S;
  const TProgramOptions savedO = O;
  ResetSettings();
  FunktionDefTable = DefaultFunktionDefTable();
  Apply(text);

  EXPECT_EQ(S.FitsSaveFormat, 32);
  EXPECT_EQ(S.JpegQuality, 77);
  EXPECT_EQ(S.HistogramMenuChecked, 0);
  EXPECT_EQ(S.FitsHeaderChecked, 1);
  EXPECT_EQ(S.RecentFiles, savedS.RecentFiles);
  EXPECT_EQ(S.MainLeft, 11);
  EXPECT_EQ(S.MainTop, 22);
  EXPECT_EQ(S.MainWidth, 1333);
  EXPECT_EQ(S.MainHeight, 944);
  EXPECT_EQ(S.HistLeft, 5);
  EXPECT_EQ(S.HistTop, 6);
  EXPECT_EQ(S.HistWidth, 400 - 56);  // the file holds the width less 56
  EXPECT_EQ(S.HistHeight, 120);
  EXPECT_EQ(O.Scale, 0);
  EXPECT_EQ(S.FitsExtension, ".fts");
  EXPECT_EQ(O.FitsExtFts, 1);
  EXPECT_EQ(S.InterpolationKind, 4);
  EXPECT_EQ(O.Preview, 0);
  EXPECT_DOUBLE_EQ(S.HistoLowPercent, 0.5);
  EXPECT_DOUBLE_EQ(S.HistoHighPercent, 99.5);
  EXPECT_EQ(S.InfoPanelVisible, 0);
  EXPECT_EQ(O.FitsFlip, 0);
  EXPECT_EQ(S.TextFont, "DejaVu Sans");
  EXPECT_EQ(S.TextOptions, 300);
  EXPECT_EQ(S.TextOptionsRead, 1);
  EXPECT_EQ(S.TextColour, 255);
  EXPECT_EQ(S.Text, "Größe M42");
  EXPECT_EQ(S.TextStyle, 5);
  EXPECT_EQ(O.RawInterpolation, 1);
  EXPECT_EQ(O.BlackToZero, 1);
  EXPECT_EQ(O.FullPath, 0);
  EXPECT_EQ(O.PsfScale, 0);
  EXPECT_EQ(S.PngCompression, 9);
  EXPECT_EQ(O.PngInterlaced, 1);
  EXPECT_EQ(S.FftCurveKeep, 1);
  EXPECT_EQ(O.TiffScale, 1);
  EXPECT_EQ(S.NetworkFolder, "/nn");
  EXPECT_EQ(S.StoredZoom, 1);
  EXPECT_EQ(ZoomEntryFromNumber(S.StoredZoom), 9);
  EXPECT_EQ(S.BlinkTimeTenths, 5);
  EXPECT_EQ(O.RScaleOff, 1);
  EXPECT_EQ(S.TextTransparency, 20);
  EXPECT_EQ(O.Highlight, 1);
  EXPECT_EQ(O.ImageBuffer, 0);
  EXPECT_EQ(S.RecentFunctions, savedS.RecentFunctions);
  EXPECT_EQ(S.DemosaicMethod, 3);
  EXPECT_EQ(O.Simd, 0);
  EXPECT_EQ(O.GammaAdjust, 0);
  EXPECT_EQ(O.Multicore, 0);
  EXPECT_FLOAT_EQ(FunktionDefTable[1].Trackbar[0].Position, 0.25f);
  EXPECT_EQ(FunktionDefTable[9].CheckBox[0].Checked, 0);
  EXPECT_EQ(FunktionDefTable[9].CheckBox[1].Checked, 1);
  EXPECT_FLOAT_EQ(FunktionDefTable[21].Trackbar[2].Position, 1.0f);
  EXPECT_FLOAT_EQ(FunktionDefTable[10].Trackbar[0].Position, 38 / 160.0f);  // 0.2375 * 160 = 38
  EXPECT_EQ(O.ToolbarTint, 0);
  EXPECT_EQ(O.PackedFlag23, 1);
  EXPECT_EQ(S.PsfParamA, -20);
  EXPECT_EQ(S.PsfParamB, 35);
  EXPECT_DOUBLE_EQ(S.FftNoiseParam1, 3.5);
  EXPECT_EQ(S.FftNoiseParam2, 17);
  EXPECT_EQ(S.ShiftMode, 3);
  EXPECT_EQ(S.PaletteFile, "/pal.png");
  EXPECT_EQ(S.HistTransparent, 1);
  EXPECT_DOUBLE_EQ(S.NetworkSetting, 2.25);
  EXPECT_EQ(O.YuvLoad, 1);
  EXPECT_EQ(O.ArrowKeys, 0);
  EXPECT_EQ(S.CutoutWidth, 800);
  EXPECT_EQ(S.CutoutAspect, "16:9");
  EXPECT_DOUBLE_EQ(S.HotPixelSigma, 3.5);
  EXPECT_EQ(S.TiffSaveFormat, 1);
  EXPECT_EQ(S.ForeignLines, savedS.ForeignLines);
  EXPECT_EQ(S.PackedParams, savedS.PackedParams);
  (void)savedO;
}

TEST_F(SettingsFileTest, ValueEqualToDefaultChangesNothing) {
  Settings.JpegQuality = 50;
  Options.Scale = 0;
  Apply("JPEG Qualitaet in %: 90\nSkalieren: ja\nHistogramm: JA\nFits Dateiendung: .FIT\n");
  EXPECT_EQ(Settings.JpegQuality, 50);
  EXPECT_EQ(Options.Scale, 0);
  EXPECT_EQ(Settings.HistogramMenuChecked, 1);
  Apply("Histogramm: vielleicht\n");
  EXPECT_EQ(Settings.HistogramMenuChecked, 0);
}

TEST_F(SettingsFileTest, BlinkTimeAndColourSurviveEveryValue) {
  // Each value written is read back at the next start, whether or not it equals
  // the start value of its variable.
  for (int tenths : {5, 10, 25}) {
    for (int colour : {16777215, 16777471, 0}) {
      ResetSettings();
      Settings.BlinkTimeTenths = tenths;
      Settings.TextColour = colour;
      const std::string text = SettingsFileText();
      ResetSettings();
      Apply(text);
      EXPECT_EQ(Settings.BlinkTimeTenths, tenths);
      EXPECT_EQ(Settings.TextColour, colour);
    }
  }
}

TEST_F(SettingsFileTest, ConversionsFollowTheKeyRules) {
  Apply("Fits Speicherformat: 8\n");
  EXPECT_EQ(Settings.FitsSaveFormat, 16);
  Apply("Fits Speicherformat: 32\n");
  EXPECT_EQ(Settings.FitsSaveFormat, 32);
  Apply("Fits Speicherformat: -32\nFits Speicherformat: x\n");
  EXPECT_EQ(Settings.FitsSaveFormat, 32);

  Apply("JPEG Qualitaet in %: abc\n");
  EXPECT_EQ(Settings.JpegQuality, 90);
  Apply("JPEG Qualitaet in %: 0\n");
  EXPECT_EQ(Settings.JpegQuality, 1);
  Apply("JPEG Qualitaet in %: 250\n");
  EXPECT_EQ(Settings.JpegQuality, 100);

  Apply("PNG Kompression: 12\n");
  EXPECT_EQ(Settings.PngCompression, 1);

  Apply("Fits Dateiendung: .FTS\n");
  EXPECT_EQ(Settings.FitsExtension, ".fit");
  EXPECT_EQ(Options.FitsExtFts, 0);
  Apply("Fits Dateiendung: .fts\n");
  EXPECT_EQ(Settings.FitsExtension, ".fts");
  EXPECT_EQ(Options.FitsExtFts, 1);

  Apply("Hoehe123\n");
  EXPECT_EQ(Settings.MainHeight, 3);

  Apply("Interpolation: 5\n");
  EXPECT_EQ(Settings.InterpolationKind, 2);
  Apply("Interpolation: 0\n");
  EXPECT_EQ(Settings.InterpolationKind, 0);

  Apply("Zoom: 6\n");
  EXPECT_EQ(ZoomEntryFromNumber(Settings.StoredZoom), 0);
  Apply("Zoom: gross\n");
  EXPECT_EQ(Settings.StoredZoom, 0);
  EXPECT_EQ(ZoomEntryFromNumber(9), -1);
  EXPECT_EQ(ZoomEntryFromNumber(-4), -1);
  for (int entry = 0; entry <= 10; ++entry) EXPECT_EQ(ZoomEntryFromNumber(ZoomNumberFromEntry(entry)), entry);

  Apply("Links: 12\nLinks: 34\n");
  EXPECT_EQ(Settings.MainLeft, 34);  // the later line wins
}

TEST_F(SettingsFileTest, CommaDecimalsAreRead) {
  Apply("Histo Min%: 0,5\nHisto Max%: 99,9\nHotpixel Sigma: 3,25\nNetzwerkini: 1,5\n");
  EXPECT_DOUBLE_EQ(Settings.HistoLowPercent, 0.5);
  EXPECT_DOUBLE_EQ(Settings.HistoHighPercent, 99.9);
  EXPECT_DOUBLE_EQ(Settings.HotPixelSigma, 3.25);
  EXPECT_DOUBLE_EQ(Settings.NetworkSetting, 1.5);
  Apply("Histo Min%: 0,5,1\n");  // not a number: unchanged
  EXPECT_DOUBLE_EQ(Settings.HistoLowPercent, 0.5);
}

TEST_F(SettingsFileTest, ForeignLinesAreKeptAndWrittenAfterTheKeys) {
  Apply("Anderes Programm: 7\nabc\nJPEG Qualitaet in %: 70\nNoch was\n");
  ASSERT_EQ(Settings.ForeignLines, (std::vector<std::string>{"Anderes Programm: 7", "Noch was"}));
  const auto lines = SplitLines(SettingsFileText());
  ASSERT_EQ(lines.size(), 74u);
  EXPECT_EQ(lines[71], "Anderes Programm: 7");
  EXPECT_EQ(lines[72], "Noch was");
  EXPECT_EQ(lines[73], " ");
}

TEST_F(SettingsFileTest, TruncatedFileKeepsWhatItHolds) {
  // The file ends inside a line and inside the filter rows.
  Apply("Breite: 800\nFparam1: 0000000080800\nJPEG Qual");
  EXPECT_EQ(Settings.MainWidth, 800);
  EXPECT_FLOAT_EQ(FunktionDefTable[2].Trackbar[0].Position, 0.5f);
  EXPECT_EQ(Settings.JpegQuality, 90);
  EXPECT_EQ(Settings.ForeignLines, (std::vector<std::string>{"JPEG Qual"}));
  EXPECT_EQ(Settings.PackedParams, PackedParamsDefault);
}

TEST_F(SettingsFileTest, FilterRowsNeedTheirFullLengthAndStopAtABadRow) {
  std::string rows = EncodeFilterRows(1, 11);
  ASSERT_EQ(rows.size(), 77u);
  std::string changed = "A0A0A03" + rows.substr(7);
  Apply("Fparam1: " + changed.substr(0, 76) + "\n");
  EXPECT_FLOAT_EQ(FunktionDefTable[1].Trackbar[0].Position, 0.0f);  // 76 characters: ignored
  Apply("Fparam1: " + changed + "\n");
  EXPECT_FLOAT_EQ(FunktionDefTable[1].Trackbar[0].Position, 1.0f);
  EXPECT_EQ(FunktionDefTable[1].CheckBox[0].Checked, 1);
  EXPECT_EQ(FunktionDefTable[1].CheckBox[1].Checked, 1);

  // Row 13 does not convert: rows 12 are read, 13 and later keep their values.
  std::string rows2 = EncodeFilterRows(12, 21);
  rows2.replace(0, 7, "0808081");
  rows2.replace(7, 2, "ZZ");
  rows2.replace(14, 2, "FF");
  Apply("Fparam2: " + rows2 + "\n");
  EXPECT_FLOAT_EQ(FunktionDefTable[12].Trackbar[0].Position, 8 / 160.0f);
  EXPECT_FLOAT_EQ(FunktionDefTable[13].Trackbar[0].Position, 0.5f);
  EXPECT_FLOAT_EQ(FunktionDefTable[14].Trackbar[0].Position, 0.0f);
}

TEST_F(SettingsFileTest, PackedValuesOutOfRangeAreClampedAndDoNotShiftLaterFields) {
  Settings.PsfParamA = 300;     // 428 does not fit two hex digits
  Settings.PsfParamB = -200;    // below 0
  Settings.FftNoiseParam1 = 99.0;
  Settings.FftNoiseParam2 = 4096;
  Settings.ShiftMode = 12;
  FunktionDefTable[1].Trackbar[0].Position = 3.0f;  // 480
  FunktionDefTable[1].Trackbar[1].Position = -1.0f;
  EncodePackedParams();
  EXPECT_EQ(Settings.PackedParams, "0A321045110201100725150FF00FFFF9");
  EXPECT_EQ(EncodeFilterRow(1), "FF00000");
  EXPECT_EQ(EncodeFilterRows(1, 11).size(), 77u);
  DecodePackedParams();
  EXPECT_EQ(Settings.PsfParamA, 127);
  EXPECT_EQ(Settings.PsfParamB, -128);
  EXPECT_DOUBLE_EQ(Settings.FftNoiseParam1, 25.5);
  EXPECT_EQ(Settings.FftNoiseParam2, 255);
  EXPECT_EQ(Settings.ShiftMode, 9);
}

TEST_F(SettingsFileTest, ShortPackedStringIsCompletedFromTheDefault) {
  Apply("Fparam3: 1122334455667\n");
  EXPECT_EQ(Settings.PackedParams, "11223344556671100725150808014080");
  std::string p = PackedParamsDefault;
  p[13] = '0', p[22] = '1', p[23] = 'X';
  Apply("Fparam3: " + p + "\n");
  EXPECT_EQ(Options.ToolbarTint, 0);
  EXPECT_EQ(Options.PackedFlag23, 1);  // "1X" at 23: 1 is a digit
  EXPECT_EQ(Settings.PsfParamA, 0);    // "X0" at 24-25 does not convert: unchanged
  Settings.PackedParams = "00112233445566778899";
  EXPECT_EQ(GetParamDigits(3), 11);
  SetParamDigits(3, 123);
  EXPECT_EQ(GetParamDigits(3), 99);
  SetParamDigits(20, 5);  // at the string's length: nothing
  EXPECT_EQ(Settings.PackedParams, "00992233445566778899");
  Settings.PackedParams = "0x7";
  EXPECT_EQ(GetParamDigits(1), 0);
  EXPECT_EQ(GetParamDigits(2), 7);
}

TEST_F(SettingsFileTest, FileIsWrittenIntoTheSettingsFolderAndReadBack) {
  test::ConfigHome home;
  EXPECT_FALSE(ReadSettings());
  Settings.JpegQuality = 42;
  Settings.Text = "Straße";
  ASSERT_TRUE(WriteSettings());
  const auto path = home.path() / "astrelon" / "astrelon.ini";
  EXPECT_EQ(SettingsFilePath(), path.string());
  ASSERT_TRUE(std::filesystem::exists(path));
  ResetSettings();
  ASSERT_TRUE(ReadSettings());
  EXPECT_EQ(Settings.JpegQuality, 42);
  EXPECT_EQ(Settings.Text, "Straße");

  // A file written in Windows-1252 by an older program is read too.
  test::WriteText(path.string(), "Text: Stra\xDF" "e\r\nJPEG Qualitaet in %: 33\r\n");
  ResetSettings();
  ASSERT_TRUE(ReadSettings());
  EXPECT_EQ(Settings.Text, "Straße");
  EXPECT_EQ(Settings.JpegQuality, 33);
}

TEST_F(SettingsFileTest, UnreadableFileKeepsTheDefaults) {
  test::TempDir dir;
  EXPECT_FALSE(ReadSettingsFile(dir.file("fehlt.ini")));
  EXPECT_FALSE(ReadSettingsFile(dir.path().string()));  // a folder
  EXPECT_EQ(Settings.JpegQuality, 90);
  // Writing into a folder that does not exist fails and reports it.
  EXPECT_FALSE(WriteSettingsFile(dir.file("nicht/da/astrelon.ini")));
}

// A settings file that cannot be written at shut-down is reported: as a message
// while a user interface is up, on standard error once it is gone.
TEST_F(SettingsFileTest, FailedWriteIsReported) {
  test::ConfigHome home;
  ASSERT_TRUE(WriteSettings());
  const std::string path = SettingsFilePath();
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  Settings.JpegQuality = 42;

  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteSettings());
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Die Einstellungen konnten nicht gespeichert werden"), std::string::npos) << printed;
  EXPECT_NE(printed.find(path), std::string::npos) << printed;

  TEngineUi ui;
  SetEngineUi(&ui);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteSettings());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  SetEngineUi(nullptr);
  ASSERT_EQ(ui.Messages.size(), 1u);
  EXPECT_NE(ui.Messages[0].find(path), std::string::npos);

  ResetSettings();
  ASSERT_TRUE(ReadSettings());
  EXPECT_EQ(Settings.JpegQuality, 90);  // the protected file is unchanged
}

}  // namespace
}  // namespace astrelon
