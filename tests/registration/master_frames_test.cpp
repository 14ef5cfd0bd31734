// Master darks and flats from lists of frame files, and multifocus merging:
// values read back with astropy, the dark noise, the overwrite question, abort
// and bad input.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/engine_ui.h"
#include "core/batch_state.h"
#include "core/language.h"
#include "core/settings.h"
#include "registration/calibration/dark_subtraction.h"
#include "registration/stacking/frame_shape.h"
#include "registration/stacking/master_file_names.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/master_frames.h"
#include "registration/stacking/multifocus.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_loader.h"
#include "store/image_store.h"
#include "store/planes/image_statistics.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr float Blank = -1e11f;

// Records what the worker shows and answers the overwrite question.
class TRecorder : public TMasterProgress {
public:
  void Start(const std::string& t) override { Titles.push_back("start:" + t); }
  void SetTitle(const std::string& t) override { Titles.push_back(t); }
  void Finish(const std::string& t) override { Titles.push_back("end:" + t); }
  void Report(const std::string& t) override { Reports.push_back(t); }
  bool ConfirmOverwrite(const std::string& caption, const std::string& prompt, std::string& name) override {
    Questions.push_back(caption + "|" + prompt);
    if (!EditedName.empty()) name = EditedName;
    return Confirm;
  }
  std::vector<std::string> Titles, Questions, Reports;
  bool Confirm = true;
  std::string EditedName;
};

// Sets the abort flag at the n-th pending-event call.
class TAbortingUi : public TEngineUi {
public:
  void ProcessMessages() override {
    if (++Calls == AbortAt) BatchAbort = 1;
  }
  int Calls = 0, AbortAt = -1;
};

class MasterFramesTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
    BatchAbort = 0;
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    BatchAbort = 0;
    FlatDarkSlot = -1;
    StoreTest::TearDown();
  }
  // A grey w x h frame written as float FITS, with "CCD-TEMP" when t > -300.
  std::string Frame(const std::string& name, int w, int h, const std::vector<float>& v, double t = -999) {
    const std::string path = dir_.file(name);
    MakeImage(40, w, h, {v}, path);
    if (t > -300) SetHeaderKeyword(40, "CCD-TEMP", "", t, true, false, false);
    EXPECT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    return path;
  }
  std::vector<float> ReadBack(const std::string& path) {
    const int s = FindFreeSlot();
    EXPECT_TRUE(LoadImageFile(s, path));
    std::vector<float> v = PlaneValues(s, 1);
    FreeSlot(s);
    return v;
  }
  TAbortingUi ui_;
  TRecorder progress_;
  TempDir dir_;
};

TEST_F(MasterFramesTest, MeanDarkCarriesTemperatureAndHistoryReadBackByAstropy) {
  TMasterJob job;
  const float values[] = {10, 20, 30};
  const double temps[] = {-10, -12, -14};
  for (int i = 0; i < 3; ++i) {
    std::vector<float> v(12, values[i]);
    v[5] = Blank;  // blank in every dark
    job.Darks.Files.push_back(Frame("d" + std::to_string(i) + ".fit", 4, 3, v, temps[i]));
  }
  job.Darks.FileName = dir_.file("master");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(job.Darks.FileName, dir_.file("master.fit"));
  EXPECT_EQ(progress_.Titles, (std::vector<std::string>{"start:Masterdark erstellen", "end:Bearbeitung fertig"}));
  EXPECT_EQ(FlatDarkSlot, -1);
  EXPECT_EQ(CountOpenWindows(), 0);
  EXPECT_TRUE(RunPython("from astropy.io import fits\n"
                        "h = fits.open('" + job.Darks.FileName + "')[0]\n"
                        "d = h.data\n"
                        "assert d.shape == (3, 4), d.shape\n"
                        "assert d[1, 1] == 0, d\n"
                        "d[1, 1] = 20\n"
                        "assert (d == 20).all(), d\n"
                        "assert h.header['CCD-TEMP'] == -12, h.header['CCD-TEMP']\n"
                        "assert '3 Bilder gemittelt' in str(h.header['HISTORY']), h.header['HISTORY']\n"
                        "assert 'MDarkRMS' not in repr(h.header), repr(h.header)\n"));
}

TEST_F(MasterFramesTest, NoisyDarksGiveTheNoiseOfTheFirstDifference) {
  std::mt19937 rng(7);
  std::normal_distribution<float> noise(100, 5);
  TMasterJob job;
  for (int i = 0; i < 3; ++i) {
    std::vector<float> v(64 * 48);
    for (float& x : v) x = noise(rng);
    job.Darks.Files.push_back(Frame("n" + std::to_string(i) + ".fit", 64, 48, v));
  }
  ASSERT_TRUE(LoadImageFile(1, job.Darks.Files[0]));
  ASSERT_TRUE(LoadImageFile(2, job.Darks.Files[1]));
  SubtractDarkFrame(1, 2, false, false);
  const double expected = EstimateNoise(1, 1) / std::sqrt(6.0);
  Store.Reset();
  job.Darks.FileName = dir_.file("noisy.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  ASSERT_TRUE(LoadImageFile(3, job.Darks.FileName));
  EXPECT_NEAR(Store.Image[3].DarkRms, expected, expected * 1e-5);
  EXPECT_EQ(CountOpenWindows(), 1);
  // A combination measures the same noise.
  job.Darks.Method = TStackMethod::Sigma;
  job.Darks.FileName = dir_.file("sigma.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  ASSERT_TRUE(LoadImageFile(4, job.Darks.FileName));
  EXPECT_NEAR(Store.Image[4].DarkRms, expected, expected * 1e-5);
  EXPECT_TRUE(RunPython("from astropy.io import fits\n"
                        "h = fits.open('" + job.Darks.FileName + "')[0].header\n"
                        "c = [str(x) for x in h['COMMENT'] if str(x).startswith('MDarkRMS')]\n"
                        "assert len(c) == 1 and abs(float(c[0].split()[1]) - " + std::to_string(expected) +
                        ") < 1e-4, c\n"));
}

TEST_F(MasterFramesTest, CombinedDarkLeavesPixelsBlankThatNoDarkHas) {
  TMasterJob job;
  for (int i = 0; i < 3; ++i) {
    std::vector<float> v(12, float(10 * (i + 1)));
    v[5] = Blank;
    job.Darks.Files.push_back(Frame("c" + std::to_string(i) + ".fit", 4, 3, v));
  }
  job.Darks.Method = TStackMethod::Median;
  job.Darks.FileName = dir_.file("median.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  const std::vector<float> v = ReadBack(job.Darks.FileName);
  EXPECT_FALSE(IsValidPixel(v[5]));
  EXPECT_FLOAT_EQ(v[0], 20);
}

TEST_F(MasterFramesTest, ExistingTargetIsReplacedOnlyWhenConfirmed) {
  TMasterJob job;
  for (int i = 0; i < 2; ++i) job.Darks.Files.push_back(Frame("e" + std::to_string(i) + ".fit", 4, 3, std::vector<float>(12, 5)));
  const std::string target = dir_.file("old.fit");
  test::WriteText(target, "old contents");
  job.Darks.FileName = target;
  progress_.Confirm = false;
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(progress_.Questions,
            std::vector<std::string>{"Die Masterdark-Datei existiert schon|Bei gleichem Namen wird die Datei überschrieben."});
  const auto bytes = ReadAll(target);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old contents");
  // Declined: the run says that nothing was written.
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung fertig, nichts geschrieben");
  EXPECT_EQ(progress_.Reports, std::vector<std::string>{"Es wurde keine Datei geschrieben."});
  // Confirmed with an edited name: written there, and the name is kept and reported.
  progress_.Confirm = true;
  progress_.EditedName = dir_.file("edited.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(job.Darks.FileName, dir_.file("edited.fit"));
  EXPECT_FLOAT_EQ(ReadBack(job.Darks.FileName)[0], 5);
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung fertig");
  EXPECT_EQ(progress_.Reports.back(), "Geschrieben:\n" + dir_.file("edited.fit"));
  // Both masters: both full names.
  for (int i = 0; i < 2; ++i) job.Flats.Files.push_back(Frame("f" + std::to_string(i) + ".fit", 4, 3, std::vector<float>(12, 9)));
  job.Flats.FileName = dir_.file("flat");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(progress_.Reports.back(), "Geschrieben:\n" + dir_.file("edited.fit") + "\n" + dir_.file("flat.fit"));
}

TEST_F(MasterFramesTest, MasterFlatSubtractsTheFlatDark) {
  TMasterJob job;
  job.Flats.Files = {Frame("f0.fit", 3, 2, {100, 200, 300, 400, 500, 600}),
                     Frame("f1.fit", 3, 2, {300, 400, 500, 600, 700, 800})};
  job.Flats.FileName = dir_.file("flat.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(ReadBack(job.Flats.FileName), (std::vector<float>{200, 300, 400, 500, 600, 700}));
  EXPECT_EQ(progress_.Titles[1], "Masterflat erstellen");
  job.FlatDarks.Files = {Frame("fd.fit", 3, 2, {10, 20, 30, 40, 50, Blank})};
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  const std::vector<float> v = ReadBack(job.Flats.FileName);
  EXPECT_EQ(std::vector<float>(v.begin(), v.begin() + 5), (std::vector<float>{190, 280, 370, 460, 550}));
  EXPECT_EQ(v[5], 0);  // blank flat-dark: no frame counted
  EXPECT_EQ(FlatDarkSlot, -1);
  EXPECT_EQ(CountOpenWindows(), 0);
  // A flat-dark of another size: said once, no master flat.
  job.FlatDarks.Files = {Frame("fd2.fit", 2, 2, {10, 20, 30, 40})};
  job.Flats.FileName = dir_.file("flat2.fit");
  ui_.Messages.clear();
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_FALSE(std::filesystem::exists(dir_.file("flat2.fit")));
  EXPECT_EQ(ui_.Messages, std::vector<std::string>{DarkSizeDiffersText(3, 2, 2, 2)});
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung abgebrochen");
  EXPECT_EQ(CountOpenWindows(), 0);
}

TEST_F(MasterFramesTest, AbortWritesNothing) {
  TMasterJob job;
  for (int i = 0; i < 3; ++i) job.Darks.Files.push_back(Frame("a" + std::to_string(i) + ".fit", 4, 3, std::vector<float>(12, 1)));
  job.Darks.FileName = dir_.file("aborted.fit");
  ui_.AbortAt = 1;
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_FALSE(std::filesystem::exists(job.Darks.FileName));
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung abgebrochen");
  EXPECT_EQ(CountOpenWindows(), 0);
}

TEST_F(MasterFramesTest, BadListsAndFilesAreRefusedOrSkipped) {
  TMasterJob job;
  job.Darks.Files = {Frame("b0.fit", 2, 2, {1, 1, 1, 1})};
  EXPECT_FALSE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(ui_.Messages.back(), "Es sind nicht genug Dateien zur Bearbeitung ausgewählt worden.");
  EXPECT_TRUE(progress_.Titles.empty());
  job.Darks.Files.assign(4049, job.Darks.Files[0]);
  EXPECT_FALSE(BuildMasterFrames(job, progress_));
  EXPECT_NE(ui_.Messages.back().find("4048"), std::string::npos);
  // A truncated and a garbage file are skipped: the mean counts the two read.
  const std::string good = Frame("b1.fit", 2, 2, {3, 3, 3, 3});
  auto whole = ReadAll(good);
  const std::string cut = dir_.file("cut.fit"), junk = dir_.file("junk.fit");
  WriteAll(cut, std::span(whole.data(), 2880 + 4));
  WriteText(junk, "no image here");
  job.Darks.Files = {job.Darks.Files[0], cut, junk, good};
  job.Darks.FileName = dir_.file("skip.fit");
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  EXPECT_EQ(ReadBack(job.Darks.FileName), (std::vector<float>{2, 2, 2, 2}));
  // A target in a missing folder: the save message, nothing written.
  job.Darks.FileName = dir_.file("missing/master.fit");
  ui_.Messages.clear();
  ASSERT_TRUE(BuildMasterFrames(job, progress_));
  ASSERT_FALSE(ui_.Messages.empty());
  EXPECT_NE(ui_.Messages.back().find("missing/master.fit"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(job.Darks.FileName));
}

// A master dark from four 60 x 40 darks and one 30 x 20 frame: the frame of
// another size is named once and left out, the card counts the darks used;
// when the odd frame comes first it sets the shape and the others are left out.
TEST_F(MasterFramesTest, FramesOfAnotherSizeAreNamedAndLeftOut) {
  std::vector<std::string> darks;
  for (int i = 0; i < 4; ++i) darks.push_back(Frame("dark" + std::to_string(i) + ".fit", 60, 40, std::vector<float>(2400, 100)));
  const std::string small = Frame("small.fit", 30, 20, std::vector<float>(600, 200));
  const std::string oddText = " hat nicht die Größe oder die Farbebenen des ersten Bildes und wird ausgelassen.";
  struct Case {
    TStackMethod method;
    size_t at;  // place of the small frame in the list
    int width, used;
    const char* card;
  };
  for (const Case& c : {Case{TStackMethod::Mean, 4, 60, 4, "4 Bilder gemittelt"},
                        Case{TStackMethod::Median, 2, 60, 4, "4 Bilder Median"},
                        Case{TStackMethod::Mean, 0, 30, 1, "1 Bilder gemittelt"},
                        Case{TStackMethod::Sigma, 0, 30, 1, ""}}) {
    TMasterJob job;
    job.Darks.Files = darks;
    job.Darks.Files.insert(job.Darks.Files.begin() + std::ptrdiff_t(c.at), small);
    job.Darks.Method = c.method;
    job.Darks.FileName = dir_.file("master" + std::to_string(c.at) + "_" + std::to_string(int(c.method)) + ".fit");
    ui_.Messages.clear();
    ASSERT_TRUE(BuildMasterFrames(job, progress_));
    std::vector<std::string> expected =
        c.used == 4 ? std::vector<std::string>{small + "\r\n" + oddText}
                    : std::vector<std::string>{darks[0] + "\r\n" + oddText, darks[1] + "\r\n" + oddText,
                                               darks[2] + "\r\n" + oddText, darks[3] + "\r\n" + oddText};
    if (!*c.card) {
      // A combination of a single frame makes no master.
      expected.push_back(TooFewFramesText(1));
      expected.push_back("Die Masterdark-Datei konnte nicht erstellt werden");
      EXPECT_EQ(ui_.Messages, expected);
      EXPECT_FALSE(std::filesystem::exists(job.Darks.FileName));
      continue;
    }
    EXPECT_EQ(ui_.Messages, expected) << c.card;
    const int s = FindFreeSlot();
    ASSERT_TRUE(LoadImageFile(s, job.Darks.FileName));
    EXPECT_EQ(Store.Image[size_t(s)].Width, c.width) << c.card;
    const std::vector<float> v = PlaneValues(s, 1);
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [&](float x) { return x == (c.used == 4 ? 100 : 200); })) << c.card;
    EXPECT_NE(HistoryText(s).find(c.card), std::string::npos) << HistoryText(s);
    FreeSlot(s);
  }
}

// The slots a run needs are checked before it starts: without them it says so
// once, writes nothing and ends aborted. A mean dark keeps two darks beside the
// master (three slots), a combined dark two, flats with a flat-dark three.
TEST_F(MasterFramesTest, RunsWithoutTheirFreeSlotsSaySoOnceAndWriteNothing) {
  TMasterJob job;
  for (int i = 0; i < 3; ++i) job.Darks.Files.push_back(Frame("s" + std::to_string(i) + ".fit", 4, 3, std::vector<float>(12, 7)));
  const std::vector<std::string> files = job.Darks.Files;
  struct Case {
    int open;
    TStackMethod method;
    bool flats;
    bool runs;
  };
  int n = 0;
  for (const Case& c : {Case{49, TStackMethod::Mean, false, false}, Case{48, TStackMethod::Median, false, false},
                        Case{47, TStackMethod::Mean, false, false}, Case{47, TStackMethod::Median, false, true},
                        Case{46, TStackMethod::Mean, false, true}, Case{47, TStackMethod::Mean, true, false},
                        Case{46, TStackMethod::Median, true, true}}) {
    Store.Reset();
    for (int s = 1; s <= c.open; ++s) MakeImage(s, 1, 1, {{1.0f}});
    job = TMasterJob{};
    job.Darks.Files = files;
    job.Darks.Method = c.method;
    if (c.flats) {
      job.Flats.Files = files;
      job.Flats.Method = c.method;
      job.FlatDarks.Files = {files[0]};
      job.Flats.FileName = dir_.file("flat" + std::to_string(n) + ".fit");
    }
    job.Darks.FileName = dir_.file("dark" + std::to_string(n++) + ".fit");
    ui_.Messages.clear();
    progress_.Titles.clear();
    ASSERT_TRUE(BuildMasterFrames(job, progress_));
    EXPECT_EQ(std::filesystem::exists(job.Darks.FileName), c.runs) << c.open;
    EXPECT_EQ(progress_.Titles.back(), c.runs ? "end:Bearbeitung fertig" : "end:Bearbeitung abgebrochen") << c.open;
    EXPECT_EQ(ui_.Messages, c.runs ? std::vector<std::string>{}
                                   : std::vector<std::string>{"Es sind zu viele Bilder geöffnet."}) << c.open;
    if (c.runs) {
      EXPECT_EQ(ReadBack(job.Darks.FileName), std::vector<float>(12, 7));
    }
    EXPECT_EQ(CountOpenWindows(), c.open);
  }
  // The multifocus image needs a frame and the result.
  Store.Reset();
  for (int s = 1; s <= 48; ++s) MakeImage(s, 1, 1, {{1.0f}});
  std::string name = dir_.file("focus.fit");
  ui_.Messages.clear();
  EXPECT_EQ(BuildMultifocusImage(files, name, progress_), -1);
  EXPECT_EQ(ui_.Messages, std::vector<std::string>{"Es sind zu viele Bilder geöffnet."});
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung abgebrochen");
  EXPECT_FALSE(std::filesystem::exists(name));
}

// The sharpness by a plain scatter over every source pixel.
std::vector<float> ScatterSharpness(const std::vector<float>& v, int w, int h, float sigma, float base) {
  std::vector<double> q(v.size(), base);
  for (int y = 1; y < h - 1; ++y)
    for (int x = 1; x < w - 1; ++x) {
      double most = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) most = std::max(most, std::fabs(double(v[size_t((y + dy) * w + x + dx)]) - v[size_t(y * w + x)]));
      const double m = most - 4 * sigma;
      if (m <= 0) continue;
      const int r = int(std::nearbyint(std::clamp(std::log10(m / base), 1.0, 10.0)));
      for (int ty = std::max(0, y - r); ty <= std::min(h - 1, y + r); ++ty)
        for (int tx = std::max(0, x - r); tx <= std::min(w - 1, x + r); ++tx)
          q[size_t(ty * w + tx)] += m / ((tx - x) * (tx - x) + (ty - y) * (ty - y) + 1);
    }
  return {q.begin(), q.end()};
}

TEST(MultifocusSharpnessTest, MatchesAPlainScatterWhateverTheThreadCount) {
  const int w = 57, h = 43;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(0, 1);
  std::vector<float> v(size_t(w * h));
  for (float& x : v) x = u(rng) < 0.05f ? 50 * u(rng) : 0;
  const std::vector<float> ref = ScatterSharpness(v, w, h, 0.5f, 0.01f);
  std::vector<float> q1(v.size()), q4(v.size());
  MultifocusSharpness(v, w, h, 0.5f, 0.01f, q1, 1);
  MultifocusSharpness(v, w, h, 0.5f, 0.01f, q4, 4);
  EXPECT_EQ(q1, q4);
  for (size_t i = 0; i < v.size(); ++i) EXPECT_NEAR(q1[i], ref[i], 1e-4 * ref[i]) << i;
  EXPECT_FLOAT_EQ(MultifocusWeight(-10, 3), 1.0f / 110);
}

TEST_F(MasterFramesTest, MultifocusTakesEachHalfFromItsSharpFrame) {
  const std::string a = dir_.file("a.fit"), b = dir_.file("b.fit"), sharp = dir_.file("sharp.fit");
  ASSERT_TRUE(RunPython("import numpy as np\nfrom astropy.io import fits\nfrom scipy.ndimage import gaussian_filter\n"
                        "y, x = np.mgrid[0:96, 0:128]\n"
                        "p = 1000.0 * (((x // 6) + (y // 6)) % 2) + 100\n"
                        "g = gaussian_filter(p, 2.5)\n"
                        "a = p.copy(); a[:, 64:] = g[:, 64:]\n"
                        "b = p.copy(); b[:, :64] = g[:, :64]\n"
                        "for n, d in (('" + a + "', a), ('" + b + "', b), ('" + sharp + "', p)):\n"
                        "    fits.PrimaryHDU(d.astype(np.float32)).writeto(n)\n"));
  std::string name = dir_.file("focus");
  const int r = BuildMultifocusImage({a, b}, name, progress_);
  ASSERT_GT(r, 0);
  EXPECT_EQ(name, dir_.file("focus.fit"));
  EXPECT_TRUE(std::filesystem::exists(name));
  EXPECT_EQ(CountOpenWindows(), 1);
  const std::vector<float> result = PlaneValues(r, 1), pa = ReadBack(a), pb = ReadBack(b), ps = ReadBack(sharp);
  auto rms = [&](const std::vector<float>& v) {
    double s = 0;
    for (size_t i = 0; i < v.size(); ++i) s += (double(v[i]) - ps[i]) * (double(v[i]) - ps[i]);
    return std::sqrt(s / double(v.size()));
  };
  EXPECT_LT(rms(result), 0.5 * rms(pa));
  EXPECT_LT(rms(result), 0.5 * rms(pb));
  EXPECT_EQ(progress_.Titles.front(), "start:Multifokusdatei erstellen");
  EXPECT_EQ(progress_.Titles.back(), "end:Bearbeitung fertig");
  EXPECT_EQ(progress_.Reports.back(), "Geschrieben:\n" + name);
  std::string one = dir_.file("one");
  EXPECT_EQ(BuildMultifocusImage({a}, one, progress_), -1);
  EXPECT_EQ(ui_.Messages.back(), "Es sind nicht genug Dateien zur Bearbeitung ausgewählt worden.");
}

}  // namespace
}  // namespace astrelon::test

namespace astrelon::test {
namespace {

TEST(MasterFileNamesTest, TranslatedMasterNamesCarryTheFitsExtension) {
  const std::string ext = Settings.FitsExtension;
  Settings.FitsExtension = ".fts";
  BuildMasterFileNames();
  EXPECT_EQ(MasterFileNames, (std::array<std::string, 4>{"Masterdark.fts", "Masterflat.fts", "", "Multifokus.fts"}));
  // The dark's word only: the flat keeps its German name.
  LoadLanguageFile(TranslationLines({{12, {"[4]DarkMaster"}}}, 12));
  BuildMasterFileNames();
  EXPECT_EQ(MasterFileNames[0], "DarkMaster.fts");
  EXPECT_EQ(MasterFileNames[1], "Masterflat.fts");
  UnloadLanguageFile();
  Settings.FitsExtension = ext;
  BuildMasterFileNames();
}

}  // namespace
}  // namespace astrelon::test
