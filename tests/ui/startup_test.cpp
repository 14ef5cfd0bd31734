// The program's start and end: settings and language at start, the files of the
// command line opened one per tick, the settings written after a close request.
#include <atomic>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <thread>

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/startup.h"
#include "common/engine_ui.h"
#include "common/text_codec.h"
#include "core/batch_state.h"
#include "core/language.h"
#include "core/run_state.h"
#include "core/settings.h"
#include "core/settings_file.h"
#include "kernels/network/neural_tables.h"
#include "qt_test_app.h"
#include "registration/stacking/master_file_names.h"
#include "shell/ui/main/main_window.h"
#include "shell/ui/main/main_window_link.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon {
namespace {

// A FITS image of 4 x 3 16-bit pixels whose values are base + index.
std::string FitsImage(int base) {
  std::string header;
  auto card = [&header](const std::string& text) {
    std::string c = text;
    c.resize(80, ' ');
    header += c;
  };
  card("SIMPLE  =                    T");
  card("BITPIX  =                   16");
  card("NAXIS   =                    2");
  card("NAXIS1  =                    4");
  card("NAXIS2  =                    3");
  card("END");
  header.resize(2880, ' ');
  std::string data;
  for (int i = 0; i < 12; ++i) {
    const int v = base + i;
    data += char((v >> 8) & 0xFF);
    data += char(v & 0xFF);
  }
  data.resize(2880, '\0');
  return header + data;
}

class StartupTest : public ::testing::Test {
protected:
  void SetUp() override {
    Store.Reset();
    LanguageSearchFolders = {languageDir.path().string()};
  }
  void TearDown() override {
    Store.Reset();
    LanguageSearchFolders.clear();
    UnloadLanguageFile();
    OperationRunning = 0;
    ComputationDone = 1;
    AbortRequested = 0;
    FilterAbortRequested = 0;
    BatchAbort = 0;
  }

  std::string IniPath() const { return (home.path() / "astrelon" / "astrelon.ini").string(); }
  void WriteIni(const std::string& text) const {
    std::filesystem::create_directories(home.path() / "astrelon");
    test::WriteText(IniPath(), text);
  }
  std::string ReadIni() const {
    auto t = ReadTextFile(IniPath());
    return t ? *t : std::string();
  }
  // Runs the event loop until the command-line timer has stopped.
  static void WaitForCommandLine(TMainForm& w) {
    for (int i = 0; i < 400 && w.Timer1->isActive(); ++i) QTest::qWait(25);
    ASSERT_FALSE(w.Timer1->isActive());
  }

  test::ConfigHome home;
  test::TempDir languageDir;
  test::TempDir files;
};

TEST_F(StartupTest, StartsWithItsSettingsOpensTheCommandLineInOrderAndWritesOnClose) {
  WriteIni("JPEG Qualitaet in %: 55\nBreite: 700\nHoehe: 500\nZoom: 3\nDebayerfunktion: 5\n"
           "Fremde Zeile: bleibt\nFits Dateiendung: .fts\nHistogramm: Nein\n");
  const std::string a = files.file("a.fit"), b = files.file("b.fit"), c = files.file("c.fts");
  const std::string broken = files.file("kaputt.fit");
  test::WriteText(a, FitsImage(100));
  test::WriteText(b, FitsImage(200));
  test::WriteText(c, FitsImage(300));
  test::WriteText(broken, FitsImage(0).substr(0, 100));  // truncated header

  TEngineUi messages;  // collects the loaders' messages instead of showing them
  {
    TMainForm w({a, broken, b, c});
    SetEngineUi(&messages);
    EXPECT_EQ(Settings.JpegQuality, 55);
    EXPECT_EQ(w.width(), 700);
    EXPECT_EQ(w.height(), 500);
    EXPECT_EQ(Settings.ZoomEntry, 5);           // stored number 3: 100 %
    EXPECT_EQ(Settings.DemosaicMethod, -1);     // 5 is read as -1
    EXPECT_EQ(MasterFileNames[0], "Masterdark.fts");
    EXPECT_EQ(MasterFileNames[3], "Multifokus.fts");
    EXPECT_NEAR(TanhTable[1000], std::tanh(1.0), 1e-7);
    EXPECT_EQ(TanhTableFixed[2000], 15795);
    // No histogram geometry stored: the default width, which leaves out the
    // window's button column of 56 pixels.
    EXPECT_EQ(Settings.HistWidth, 345 + 56);
    EXPECT_EQ(Settings.HistLeft, Settings.MainLeft + Settings.MainWidth - 345 - 6);
    EXPECT_FALSE(LanguageFileLoaded);
    EXPECT_EQ(FirstShowPending, 1);
    EXPECT_EQ(Store.InUse[1], 0);               // nothing before the first tick

    WaitForCommandLine(w);
    EXPECT_EQ(CommandLineOpened, 4);
    // The broken file took no slot; the others fill slots 1..3 in order.
    ASSERT_EQ(Store.InUse[1], 1);
    ASSERT_EQ(Store.InUse[2], 1);
    ASSERT_EQ(Store.InUse[3], 1);
    EXPECT_EQ(Store.InUse[4], 0);
    EXPECT_EQ(Store.FileName[1], a);
    EXPECT_EQ(Store.FileName[2], b);
    EXPECT_EQ(Store.FileName[3], c);
    EXPECT_EQ(Store.Image[2].Width, 4);
    EXPECT_EQ(Store.Image[2].Height, 3);
    EXPECT_EQ(Settings.RecentFiles[1], c);
    EXPECT_EQ(Settings.RecentFiles[3], a);
    EXPECT_EQ(messages.Messages.size(), 1u);  // about the broken file

    w.resize(810, 610);
    w.close();
    EXPECT_EQ(CloseRequested, 1);
  }
  const std::string ini = ReadIni();
  EXPECT_NE(ini.find("JPEG Qualitaet in %: 55\n"), std::string::npos);
  EXPECT_NE(ini.find("Breite: 810\n"), std::string::npos);
  EXPECT_NE(ini.find("Zoom: 3\n"), std::string::npos);
  EXPECT_NE(ini.find("Letzte Datei 1: " + c + "\n"), std::string::npos);
  EXPECT_NE(ini.find("Debayerfunktion: -1\n"), std::string::npos);
  EXPECT_NE(ini.find("\nFremde Zeile: bleibt\n \n"), std::string::npos);
  EXPECT_NE(ini.find("Hbreite: 345\n"), std::string::npos);  // a hidden histogram window keeps its width
}

TEST_F(StartupTest, WithoutArgumentsTheFirstTickStopsTheTimer) {
  TMainForm w(std::vector<std::string>{});
  EXPECT_TRUE(w.Timer1->isActive());
  EXPECT_EQ(w.Timer1->interval(), 250);
  WaitForCommandLine(w);
  EXPECT_EQ(CommandLineOpened, 0);
  EXPECT_EQ(Store.InUse[1], 0);
}

TEST_F(StartupTest, EndingWithoutCloseRequestLeavesTheSettingsFileAlone) {
  { TMainForm w(std::vector<std::string>{}); }
  EXPECT_FALSE(std::filesystem::exists(IniPath()));
  WriteIni("JPEG Qualitaet in %: 12\n");
  { TMainForm w(std::vector<std::string>{}); }
  EXPECT_EQ(ReadIni(), "JPEG Qualitaet in %: 12\n");
}

TEST_F(StartupTest, NoSettingsFileGivesDefaultsAndAFullFileOnClose) {
  {
    TMainForm w(std::vector<std::string>{});
    EXPECT_EQ(Settings.JpegQuality, 90);
    EXPECT_EQ(Settings.InterpolationKind, 2);
    EXPECT_EQ(Options.OpInterpolation, 2);
    EXPECT_EQ(FirstShowPending, 1);
    w.show();  // the first showing ends start-up and names the processor's features
    EXPECT_EQ(FirstShowPending, 0);
    EXPECT_TRUE(MainLink().StatusTexts[0].contains("detected"));
    w.close();
  }
  const auto lines = SplitLines(ReadIni());
  ASSERT_EQ(lines.size(), 72u);
  EXPECT_EQ(lines[0], "Fits Speicherformat: -32");
  EXPECT_EQ(lines[71], " ");
}

TEST_F(StartupTest, NumbersUseThePointAndOutlandishBoundsAreTamed) {
  // A locale with a decimal comma where the system has one, else another name.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    EXPECT_STREQ(std::localeconv()->decimal_point, ",");
  } else {
    std::setlocale(LC_NUMERIC, "C.UTF-8");
  }
  WriteIni("Links: 2147483647\nOben: -2147483648\nBreite: 2147483647\nHoehe: 2147483647\nHistogramm: Nein\n");
  TMainForm w(std::vector<std::string>{});
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  EXPECT_STREQ(std::localeconv()->decimal_point, ".");
  const QSize desktop = QGuiApplication::primaryScreen()->availableVirtualGeometry().size();
  EXPECT_LE(w.width(), desktop.width());
  EXPECT_LE(w.height(), desktop.height());
  // The histogram window's default place is computed without overflow.
  EXPECT_EQ(Settings.HistLeft, 2147483647);
  EXPECT_EQ(Settings.HistTop, -2147483648LL + 2147483647 - 115 - 25);
}

TEST_F(StartupTest, LoadsTheTranslationFileOfTheProgramFolder) {
  test::WriteText(languageDir.file("QZlang_English.txt"), "\xEF\xBB\xBF[0_x\n[1]4.2\n[1_Menu\n[1]&File\n");
  TMainForm w(std::vector<std::string>{});
  EXPECT_TRUE(LanguageFileLoaded);
  EXPECT_TRUE(LanguageFile.Utf8);
  EXPECT_FLOAT_EQ(LanguageFile.Version, 4.2f);
  EXPECT_EQ(LangText(LangKey(1, 1)), "&File");
}

TEST_F(StartupTest, ShutDownAsksARunningOperationToStopAndWaitsForIt) {
  std::thread worker;
  {
    TMainForm w(std::vector<std::string>{});
    OperationRunning = 1;
    ComputationDone = 0;
    // The operation stops as soon as it is asked to.
    worker = std::thread([] {
      while (AbortRequested == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ComputationDone = 1;
    });
    w.close();
    w.FormDestroy();
    EXPECT_EQ(AbortRequested, 1);
    EXPECT_EQ(FilterAbortRequested, 1);
    EXPECT_EQ(BatchAbort, 1);
    EXPECT_EQ(ComputationDone, 1);
  }
  worker.join();
  EXPECT_TRUE(std::filesystem::exists(IniPath()));
}

// The settings folder of the death test: the same for the test and the process
// that runs the statement (a fresh run of this program).
std::filesystem::path DeathTestHome() { return std::filesystem::path(ASTRELON_BINARY_DIR) / "startup-death-home"; }

TEST(StartupDeathTest, AnOperationThatNeverStopsEndsTheProgramAfterTheWait) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto iniPath = DeathTestHome() / "astrelon" / "astrelon.ini";
  std::error_code ec;
  std::filesystem::remove_all(DeathTestHome(), ec);
  EXPECT_EXIT(
      {
        setenv("XDG_CONFIG_HOME", DeathTestHome().c_str(), 1);
        TMainForm w(std::vector<std::string>{});
        w.ShutdownWaitMs = 200;
        OperationRunning = 1;
        ComputationDone = 0;
        // A worker that ignores the abort flags and is still running at the end.
        static std::thread stuck([] {
          for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        w.close();
        w.FormDestroy();
        std::abort();  // not reached: shut-down ends the process
      },
      ::testing::ExitedWithCode(0), "");
  // The settings were written before the process ended.
  EXPECT_TRUE(std::filesystem::exists(iniPath));
  std::filesystem::remove_all(DeathTestHome(), ec);
}

}  // namespace
}  // namespace astrelon
