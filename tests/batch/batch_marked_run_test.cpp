// Runs aligned on marks: the test plays the user at the star-check prompt
// (marks the first image, confirms, skips, marks directly), the frames hold
// synthetic stars moved by known shifts and turns.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <cmath>

#include "batch/align/prompt_texts.h"
#include "batch/inputs/shift_list_file.h"
#include "batch/inputs/shift_list_selection.h"
#include "batch/steps/batch_captions.h"
#include "marked_run_fixture.h"
#include "star_scene.h"
#include "kernels/alignment/float_point.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "pixelops/mosaic/mosaic_settings_file.h"
#include "registration/stacking/stack_alignment.h"
#include "store/image_loader.h"

namespace astrelon::test {
namespace {

constexpr int W = 80, H = 60;
constexpr double Background = 10;
const TFloatPoint Star1{20, 20}, Star2{60, 40};

struct TStar {
  TFloatPoint At;
  double Peak;
};
const TStar TwoStars[] = {{Star1, 1000}, {Star2, 700}};
// The field of multipoint runs: two more stars beside the two.
const TStar FourStars[] = {{Star1, 1000}, {Star2, 700}, {{56, 14}, 800}, {{26, 46}, 600}};

// Gaussian stars on a flat background, the sky moved by (dx, dy) and turned
// by `degrees` about the first star.
std::vector<float> StarFrame(double dx, double dy, double degrees, std::span<const TStar> stars = TwoStars) {
  std::vector<float> v(size_t(W) * H, float(Background));
  const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
  for (const TStar& star : stars) {
    const double rx = star.At.X - Star1.X, ry = star.At.Y - Star1.Y;
    const double sx = Star1.X + c * rx - s * ry + dx, sy = Star1.Y + s * rx + c * ry + dy;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x)
        v[size_t(y) * W + x] +=
            float(star.Peak * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (2 * 1.6 * 1.6)));
  }
  return v;
}

// The flux-weighted centre of a plane above the background in a box.
TFloatPoint Centroid(const std::vector<float>& v, double background, TFloatPoint at) {
  double sx = 0, sy = 0, sum = 0;
  for (int y = int(at.Y) - 6; y <= int(at.Y) + 6; ++y)
    for (int x = int(at.X) - 6; x <= int(at.X) + 6; ++x) {
      const double f = v[size_t(y) * W + x] - background;
      sx += f * x;
      sy += f * y;
      sum += f;
    }
  return {float(sx / sum), float(sy / sum)};
}

class BatchMarkedRunTest : public MarkedRunTest {
protected:
  // A run on one mark over f0001.fit .. (`frames` of them) into `target`, the
  // first image's mark a box of 2 half + 1 pixels around `start`: each frame's
  // move against the first (its marked point less the first's) and quality.
  struct TFollowed {
    double X, Y, Quality;
  };
  std::vector<TFollowed> FollowedMoves(TFloatPoint start, int half, int frames, const std::string& target) {
    Files(dir.file("f0001.fit"), target);
    MarkedAddBatch(1);
    answer = [&](int prompt, int targetSlot, int) {
      if (prompt == 1) {
        FakeWindow& t = windows[size_t(targetSlot)];
        t.sel1 = true;
        t.rect1 = BoxAround(start.X, start.Y, half);
      }
      Ok(true);
    };
    std::vector<TFollowed> moves;
    if (!Start()) return moves;
    Run();
    const std::string list = dir.file("VList_1Stars_" + std::to_string(frames) + "files.qvl");
    TShiftListFile read;
    std::string error;
    EXPECT_TRUE(ReadShiftListFile(list, read, error)) << error;
    std::filesystem::remove(list);
    for (int k = 0; k < read.Count(); ++k) {
      const auto& pair = read.StarPairs[size_t(k)];
      moves.push_back({double(pair[4]) - pair[0], double(pair[5]) - pair[1], read.Qualities[size_t(k)]});
    }
    return moves;
  }
  // Frames f0001.fit .. moved by (k dx, k dy) and turned by k degrees.
  std::string Frames(int count, double dx, double dy, double degrees, std::span<const TStar> stars = TwoStars) {
    for (int k = 0; k < count; ++k)
      WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {StarFrame(k * dx, k * dy, k * degrees, stars)});
    return dir.file("f0001.fit");
  }
  // The first image: selections around the stars (the first around `star`),
  // "Keine Kontrolle mehr" ticked.
  void MarkStars(int target, int marks, TFloatPoint star = Star1) {
    FakeWindow& t = windows[size_t(target)];
    t.sel1 = true;
    t.rect1 = {int(star.X) - 6, int(star.Y) - 6, int(star.X) + 6, int(star.Y) + 6};
    if (marks == 2) {
      t.sel2 = true;
      t.rect2 = {int(Star2.X) - 6, int(Star2.Y) - 6, int(Star2.X) + 6, int(Star2.Y) + 6};
    }
  }
  // Multipoint: a box around each of the four stars.
  void MarkFourStars(int target) {
    FakeWindow& t = windows[size_t(target)];
    t.marks.clear();
    for (const TStar& star : FourStars) {
      const int x = int(star.At.X), y = int(star.At.Y);
      t.marks.push_back({.Left = x - 6, .Top = y - 6, .Right = x + 6, .Bottom = y + 6});
    }
  }
  // The first prompt marks `marks` stars (4: the four-star boxes) and ticks
  // "Keine Kontrolle mehr"; later prompts just go on.
  void MarkFirstImage(int marks) {
    answer = [this, marks](int prompt, int target, int) {
      if (prompt == 1) marks == 4 ? MarkFourStars(target) : MarkStars(target, marks);
      Ok(true);
    };
  }

};

TEST_F(BatchMarkedRunTest, FramesAlignedOnOneOrTwoMarksAddUp) {
  struct Case {
    int marks;
    double dx, dy, degrees;
  } cases[] = {{1, 1.3, -0.7, 0}, {2, 1.1, 0.6, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.marks);
    Restart();
    const std::string name = "sum" + std::to_string(c.marks) + ".fit";
    Files(Frames(4, c.dx, c.dy, c.degrees), name);
    MarkedAddBatch(c.marks);
    MarkFirstImage(c.marks);
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    EXPECT_EQ(labels.Label1, "4 Bilder Add");
    // Only the first image asked.
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].second, c.marks == 1 ? "Markieren Sie einen Stern und klicken danach auf \"Ok, weiter\"!"
                                              : "Markieren Sie 2 Sterne und klicken danach auf \"Ok, weiter\"!");
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(name)));
    const std::vector<float> sum = PlaneValues(48, 1);
    // Four frames on the first one's grid: the stars where they were, the
    // background four times.
    for (const TFloatPoint star : {Star1, Star2}) {
      const TFloatPoint at = Centroid(sum, 4 * Background, star);
      EXPECT_NEAR(at.X, star.X, 0.1);
      EXPECT_NEAR(at.Y, star.Y, 0.1);
    }
    EXPECT_NEAR(sum[size_t(30) * W + 40], 4 * Background, 0.05);
    EXPECT_NEAR(sum[size_t(20) * W + 20], 4 * (Background + 1000), 4 * 1000 * 0.06);
    // The run's shift list beside the start file.
    const std::string list = dir.file("VList_" + std::to_string(c.marks) + "Stars_4files.qvl");
    ASSERT_TRUE(Exists(list));
    TShiftListFile read;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(list, read, error)) << error;
    ASSERT_EQ(read.Count(), 4);
    EXPECT_NEAR(read.StarPairs[3][4] - read.StarPairs[3][0], 3 * c.dx, 0.1);  // B1 - A1 of the last frame
    std::filesystem::remove(list);
  }
}

TEST_F(BatchMarkedRunTest, ARerunWithTheShiftListAsksNothingAndGivesTheSameTarget) {
  // One mark, and four in multipoint mode (the listed marks installed).
  for (const int marks : {1, 4}) {
    SCOPED_TRACE(marks);
    Restart();
    const std::string start = Frames(4, 1.3, -0.7, marks == 4 ? 0.5 : 0, FourStars);
    const std::string tag = std::to_string(marks);
    Files(start, "first" + tag + ".fit");
    MarkedAddBatch(std::min(marks, 3));
    MarkFirstImage(marks == 1 ? 1 : 4);
    ASSERT_TRUE(Start());
    Run();
    ASSERT_EQ(prompts.size(), 1u);
    TShiftListFile list;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(dir.file("VList_" + tag + "Stars_4files.qvl"), list, error)) << error;
    std::filesystem::remove(dir.file("VList_" + tag + "Stars_4files.qvl"));
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file("first" + tag + ".fit")));
    const std::vector<float> first = PlaneValues(48, 1);
    FreeSlot(48);

    ResetRun();
    BatchSteps = TBatchStepList();
    Files(start, "again" + tag + ".fit");
    MarkedAddBatch(marks);
    BatchRun.UseShiftList = true;
    InstallRunShiftList(list);
    BatchRun.ShiftListCount = list.Count();
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(prompts.size(), 1u) << "the rerun asks nothing";
    EXPECT_EQ(labels.Label1, "4 Bilder Add");
    ASSERT_TRUE(LoadImageFile(48, dir.file("again" + tag + ".fit")));
    const std::vector<float> again = PlaneValues(48, 1);
    ASSERT_EQ(again.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i)
      ASSERT_NEAR(again[i], first[i], 1e-3f * std::fabs(first[i]) + 1e-3f) << i;
    FreeSlot(48);
  }
}

TEST_F(BatchMarkedRunTest, CorrelationRunsListTheReferenceJustAboveTheSecond) {
  Settings.ShiftMode = 1;
  Files(Frames(3, 1.0, 1.0, 0), "corr.fit");
  MarkedAddBatch(1);
  MarkFirstImage(1);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(Settings.ShiftMode, 1) << "the main window's mode comes back";
  EXPECT_EQ(prompts[0].second, "Markieren Sie einen Bereich und klicken danach auf \"Ok, weiter\"!");
  TShiftListFile list;
  std::string error;
  ASSERT_TRUE(ReadShiftListFile(dir.file("VList_1Stars_3files.qvl"), list, error)) << error;
  ASSERT_EQ(list.Count(), 3);
  EXPECT_NEAR(list.Qualities[0], 1.01 * list.Qualities[1], 1e-3 * list.Qualities[1]);
}

TEST_F(BatchMarkedRunTest, SkippedImagesAndDirectMarks) {
  Files(Frames(4, 1.0, 0.5, 0), "sum.fit");
  MarkedAddBatch(1);
  int skipped = 0;
  answer = [&](int prompt, int target, int) {
    if (prompt == 1) {
      MarkStars(target, 1);
      Ok(false);  // keep checking
    } else if (prompt == 2) {
      BatchRun.SkipImage = true;  // "&Bild auslassen" on the second image
      BatchRun.PromptAnswered = true;
      ++skipped;
    } else if (prompt == 3) {
      // A direct mark on the target: the prompt comes back once to confirm.
      FakeWindow& t = windows[size_t(target)];
      t.sel1 = false;
      t.marker1 = true;
      t.markerPoint = {int(Star1.X), int(Star1.Y)};
      Ok(false);
    } else {
      Ok(true);
    }
  };
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(skipped, 1);
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label1, "3 Bilder Add");  // the skipped image is not counted
  ASSERT_GE(prompts.size(), 4u);
  EXPECT_EQ(prompts[2].first, prompts[3].first) << "the direct mark asks once more for the same image";
  EXPECT_EQ(prompts[1].second,
            "Ist der richtige Stern markiert? Wenn nein, dann bitte korrigieren und danach auf \"Ok, weiter\" klicken.");
}

TEST_F(BatchMarkedRunTest, MedianWithMarksStacksEveryListedFrame) {
  Files(Frames(5, 1.2, -0.8, 0), "median.fit");
  MarkedAddBatch(1);
  BatchRun.CombineMode = 3;
  MarkFirstImage(1);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  EXPECT_EQ(labels.Label1, "5 Bilder Median");
  ASSERT_EQ(SeriesFileList.size(), 5u);
  FreeSlot(48);
  ASSERT_TRUE(LoadImageFile(48, dir.file("median.fit")));
  const std::vector<float> median = PlaneValues(48, 1);
  const TFloatPoint at = Centroid(median, Background, Star1);
  EXPECT_NEAR(at.X, Star1.X, 0.15);
  EXPECT_NEAR(at.Y, Star1.Y, 0.15);
  EXPECT_TRUE(Exists(dir.file("VList_1Stars_5files.qvl")));
}

TEST_F(BatchMarkedRunTest, FitToTargetPutsEveryImageOnTheFirstOnesGrid) {
  // One and two marks, and four in multipoint mode.
  for (const int marks : {1, 2, 4}) {
    SCOPED_TRACE(marks);
    Restart();
    const std::string folder = "fit" + std::to_string(marks);
    std::filesystem::create_directories(dir.path() / folder);
    Files(Frames(3, 1.4, 0.9, marks >= 2 ? 0.5 : 0, FourStars), dir.file(folder + "/r.fit"));
    Steps({14});
    Step(2).MarksOrInterpolation = std::min(marks, 3);
    Step(2).OptionCaption.clear();
    MarkFirstImage(marks);
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    for (const char* name : {"/r_0002.FIT", "/r_0003.FIT"}) {
      FreeSlot(48);
      ASSERT_TRUE(LoadImageFile(48, dir.file(folder + name))) << name;
      const std::vector<float> v = PlaneValues(48, 1);
      for (const TStar& star : FourStars) {
        const TFloatPoint at = Centroid(v, Background, star.At);
        EXPECT_NEAR(at.X, star.At.X, 0.1) << name;
        EXPECT_NEAR(at.Y, star.At.Y, 0.1) << name;
      }
    }
  }
}

TEST_F(BatchMarkedRunTest, AbortAtThePromptEndsTheRun) {
  Files(Frames(3, 1.0, 0.5, 0), "sum.fit");
  MarkedAddBatch(1);
  answer = [&](int, int, int) {
    BatchRun.EndOfRun = true;  // "&Abbrechen"
    BatchRun.PromptAnswered = true;
  };
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Abbruch!");
  EXPECT_FALSE(Exists(dir.file("sum.fit")));
  EXPECT_FALSE(Exists(dir.file("VList_1Stars_1files.qvl")));
}

// RGGB mosaics of a colour field (red 100, green 200, blue 50 over the
// background, times `scale`) with the stars, the sky moved by whole and half
// pixels.
constexpr float FieldColour[3] = {100, 200, 50};
std::vector<std::vector<float>> BayerFrames(std::span<const TStar> stars = TwoStars, float scale = 1, int count = 3) {
  const double shifts[4][2] = {{0, 0}, {1.5, 0.5}, {2, -1}, {-1.5, 1.5}};
  std::vector<std::vector<float>> frames;
  for (const auto& shift : std::span(shifts).first(size_t(count))) {
    std::vector<float> v = StarFrame(shift[0], shift[1], 0, stars);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) v[size_t(y) * W + x] += scale * FieldColour[MosaicCellColor(MosaicPattern, x, y)];
    frames.push_back(std::move(v));
  }
  return frames;
}

class BayerSpecialRunTest : public BatchMarkedRunTest {
protected:
  void SetUp() override {
    BatchMarkedRunTest::SetUp();
    saved_ = MosaicSettings;
    TMosaicSettings rggb;
    rggb.Bias = "0";
    ASSERT_TRUE(WriteMosaicSettings(dir.file("rggb.qcm"), rggb));
    MosaicSettings = rggb;
    StoreMosaicPattern();
  }
  void TearDown() override {
    MosaicSettings = saved_;
    StoreMosaicPattern();
    BatchMarkedRunTest::TearDown();
  }
  // A Bayer-special run on one mark (4: multipoint on four stars) from this
  // start file into rgb.fit; one mark is a box around `star`.
  void RunFrom(const std::string& start, int marks = 1, TFloatPoint star = Star1) {
    Restart();
    Files(start, "rgb.fit");
    MarkedAddBatch(std::min(marks, 3));
    BatchWindow.Page = TAddTargetPage::BayerSpecial;
    BatchRun.MosaicFileName = dir.file("rggb.qcm");
    answer = [this, marks, star](int prompt, int target, int) {
      if (prompt == 1) marks == 4 ? MarkFourStars(target) : MarkStars(target, 1, star);
      Ok(true);
    };
    ASSERT_TRUE(Start());
    Run();
  }
  // Away from the star and the edges each plane of the result is its colour
  // over the background, times the largest green weight (the same for all
  // planes), within `tolerance`.
  void ExpectFieldColours(float tolerance, float scale = 1) {
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file("rgb.fit")));
    ASSERT_EQ(Store.Image[48].PlaneCount, 3);
    EXPECT_NE(HistoryText(48).find("3 Bilder Bayerspezial addiert"), std::string::npos) << HistoryText(48);
    const float m = PlaneValues(48, 2)[size_t(45) * W + 30] / float(scale * FieldColour[1] + Background);
    EXPECT_GT(m, 1.0f);
    for (int p = 1; p <= 3; ++p) {
      const std::vector<float> plane = PlaneValues(48, p);
      for (const int at : {45 * W + 30, 10 * W + 70, 50 * W + 10})
        EXPECT_NEAR(plane[size_t(at)] / m, scale * FieldColour[p - 1] + Background, tolerance) << p << " " << at;
    }
  }

private:
  TMosaicSettings saved_;
};

TEST_F(BayerSpecialRunTest, FilesGiveTheColoursOfTheField) {
  const std::vector<std::vector<float>> frames = BayerFrames();
  for (size_t k = 0; k < frames.size(); ++k) WriteImage("b000" + std::to_string(k + 1) + ".fit", W, H, {frames[k]});
  RunFrom(dir.file("b0001.fit"));
  ExpectFieldColours(0.5f);
}

TEST_F(BayerSpecialRunTest, AVideoGivesTheColoursOfTheField) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  // Eight-bit grey frames: a fainter field and stars keep every cell below 256.
  const TStar faint[] = {{Star1, 200}, {Star2, 150}};
  const std::string raw = dir.file("b.gray"), video = dir.file("b.avi");
  {
    std::ofstream out(raw, std::ios::binary);
    for (const std::vector<float>& v : BayerFrames(faint, 0.1f))
      for (const float x : v) out.put(char(uint8_t(std::lround(std::clamp(x, 0.0f, 255.0f)))));
  }
  ASSERT_EQ(std::system(("ffmpeg -y -f rawvideo -pix_fmt gray -s " + std::to_string(W) + "x" + std::to_string(H) +
                         " -i " + raw + " -c:v rawvideo -pix_fmt gray " + video + " >/dev/null 2>&1")
                            .c_str()),
            0);
  RunFrom(video);
  ExpectFieldColours(0.5f, 0.1f);
  EXPECT_EQ(BatchRun.AviInput.load(), 0);
  EXPECT_EQ(StackVideo, nullptr);
}

TEST_F(BayerSpecialRunTest, AListThatLostItsReferenceAddsOnTheReferenceGrid) {
  for (const int marks : {1, 4}) {
    SCOPED_TRACE(marks);
    const std::vector<std::vector<float>> frames = BayerFrames(FourStars, 1, 4);
    for (size_t k = 0; k < frames.size(); ++k) WriteImage("b000" + std::to_string(k + 1) + ".fit", W, H, {frames[k]});
    RunFrom(dir.file("b0001.fit"), marks);
    ASSERT_EQ(labels.Label2, "Bearbeitung fertig.");
    const std::string name = dir.file("VList_" + std::to_string(marks) + "Stars_4files.qvl");
    TShiftListFile list;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(name, list, error)) << error;
    std::filesystem::remove(name);
    std::filesystem::remove(dir.file("rgb.fit"));
    list.Qualities = {1, 5, 6, 7};
    ASSERT_TRUE(SelectBestImages(list, "75"));
    ASSERT_EQ(list.Count(), 3);

    // The run from the list: the first listed image is the second frame.
    Restart();
    Files(dir.file("b0001.fit"), "rgb.fit");
    MarkedAddBatch(marks);
    BatchWindow.Page = TAddTargetPage::BayerSpecial;
    BatchRun.MosaicFileName = dir.file("rggb.qcm");
    BatchRun.UseShiftList = true;
    BatchRun.ReferenceDropped = true;
    InstallRunShiftList(list);
    BatchRun.ShiftListCount = list.Count();
    ASSERT_TRUE(Start());
    Run();
    EXPECT_TRUE(prompts.empty());
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file("rgb.fit")));
    ASSERT_EQ(Store.Image[48].PlaneCount, 3);
    // The stars of the sum sit where the lost reference had them.
    const std::vector<float> green = PlaneValues(48, 2);
    std::vector<float> sorted = green;
    std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2), sorted.end());
    const float background = sorted[sorted.size() / 2];
    for (const TStar& star : FourStars) {
      const TFloatPoint at = Centroid(green, background, star.At);
      EXPECT_NEAR(at.X, star.At.X, 0.2);
      EXPECT_NEAR(at.Y, star.At.Y, 0.2);
    }
    FreeSlot(48);
    std::filesystem::remove(dir.file("rgb.fit"));
  }
}

// Fourteen RGGB frames of 320 x 240 sixteen-bit levels: 45 stars of their own
// colours over a coloured sky with a gradient, shot and read noise, the stars
// moved by known offsets of 0 to 5 pixels. The Bayer-special run on one mark
// measures each frame's shift to a tenth of a pixel, and the white balance and
// black level of the ".qcm" change none of the shifts.
TEST_F(BayerSpecialRunTest, ShiftsOfMosaicFramesAreTheKnownOffsetsWhateverTheWhiteBalance) {
  constexpr int FW = 320, FH = 240, Frames = 14;
  constexpr double Sigma = 1.15;  // 2.7 pixels at half height
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> unit(0, 1);
  std::normal_distribution<double> normal;
  // Position and red, green, blue flux: the marked star bright and alone, the others 20 pixels or more from it.
  std::vector<std::array<double, 5>> field{{100.3, 80.6, 90000, 160000, 60000}};
  while (field.size() < 45) {
    const double x = 10 + unit(random) * (FW - 20), y = 10 + unit(random) * (FH - 20), f = 8000 + 40000 * unit(random);
    if (std::hypot(x - 100.3, y - 80.6) >= 20)
      field.push_back({x, y, f * (0.3 + unit(random)), f * (0.3 + unit(random)), f * (0.3 + unit(random))});
  }
  std::vector<std::array<double, 2>> offsets{{0, 0}};
  while (offsets.size() < Frames) offsets.push_back({5 * unit(random), 5 * unit(random)});
  // The Gaussian integrated over pixel a of a star at c.
  const auto edge = [](double a, double c) {
    return 0.5 * (std::erf((a + 0.5 - c) / (M_SQRT2 * Sigma)) - std::erf((a - 0.5 - c) / (M_SQRT2 * Sigma)));
  };
  for (size_t k = 0; k < Frames; ++k) {
    std::vector<float> v(size_t(FW) * FH);
    for (int y = 0; y < FH; ++y)
      for (int x = 0; x < FW; ++x) {
        const size_t c = size_t((x & 1) + (y & 1));
        double level = std::array{1500.0, 2500.0, 1000.0}[c] + std::array{2.0, -1.5, 1.0}[c] * x +
                       std::array{-1.0, 1.0, 2.0}[c] * y;
        for (const auto& star : field) {
          const double sx = star[0] + offsets[k][0], sy = star[1] + offsets[k][1];
          if (std::fabs(x - sx) < 8 && std::fabs(y - sy) < 8) level += star[2 + c] * edge(x, sx) * edge(y, sy);
        }
        v[size_t(y) * FW + x] = float(std::clamp(std::nearbyint(level + normal(random) * std::sqrt(100 + level)), 0.0, 65535.0));
      }
    WriteImage("m" + std::string(k < 9 ? "000" : "00") + std::to_string(k + 1) + ".fit", FW, FH, {v});
  }
  std::vector<std::array<double, 2>> first;  // the shifts measured without white balance
  for (const auto& [rmul, bmul, bias] : {std::array{"1", "1", "0"}, std::array{"1.25", "0.80", "50"}}) {
    SCOPED_TRACE(rmul);
    TMosaicSettings settings;
    settings.Rmul = rmul;
    settings.Bmul = bmul;
    settings.Bias = bias;
    ASSERT_TRUE(WriteMosaicSettings(dir.file("rggb.qcm"), settings));
    const std::string list = dir.file("VList_1Stars_14files.qvl");
    std::filesystem::remove(list);
    std::filesystem::remove(dir.file("rgb.fit"));
    RunFrom(dir.file("m0001.fit"), 1, TFloatPoint{100, 80});
    ASSERT_EQ(labels.Label2, "Bearbeitung fertig.");
    TShiftListFile read;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(list, read, error)) << error;
    ASSERT_EQ(read.Count(), Frames);
    for (size_t k = 0; k < Frames; ++k) {
      const TStarPair& pair = read.StarPairs[k];
      const std::array<double, 2> shift{double(pair[4]) - pair[0], double(pair[5]) - pair[1]};
      EXPECT_NEAR(shift[0], offsets[k][0], 0.1) << "frame " << k + 1;
      EXPECT_NEAR(shift[1], offsets[k][1], 0.1) << "frame " << k + 1;
      if (first.size() < Frames) {
        first.push_back(shift);
      } else {
        EXPECT_NEAR(shift[0], first[k][0], 0.01) << "frame " << k + 1;
        EXPECT_NEAR(shift[1], first[k][1], 0.01) << "frame " << k + 1;
      }
    }
  }
}

TEST_F(BatchMarkedRunTest, FramesAlignedOnFourMarksAddUpOrStackFromTheirList) {
  struct Case {
    int32_t combineMode;
    const char* label;
  } cases[] = {{0, "4 Bilder Add"}, {3, "4 Bilder Median"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Restart();
    const std::string name = "multi" + std::to_string(c.combineMode) + ".fit";
    Files(Frames(4, 1.2, -0.8, 0.8, FourStars), name);
    MarkedAddBatch(3);
    BatchRun.CombineMode = c.combineMode;
    MarkFirstImage(4);
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
    EXPECT_EQ(labels.Label1, c.label);
    ASSERT_EQ(prompts.size(), 1u) << "only the first image asks";
    EXPECT_EQ(prompts[0].second, "Markieren Sie mindestens 3 Sterne und klicken danach auf \"Ok, weiter\"!");
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(name)));
    const std::vector<float> result = PlaneValues(48, 1);
    // The frames on the first one's grid: every star where it was.
    const double background = c.combineMode == 0 ? 4 * Background : Background;
    for (const TStar& star : FourStars) {
      const TFloatPoint at = Centroid(result, background, star.At);
      EXPECT_NEAR(at.X, star.At.X, 0.15);
      EXPECT_NEAR(at.Y, star.At.Y, 0.15);
    }
    // The run's list holds the pairs of every mark of every frame.
    const std::string list = dir.file("VList_4Stars_4files.qvl");
    TShiftListFile read;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(list, read, error)) << error;
    ASSERT_EQ(read.Count(), 4);
    ASSERT_EQ(read.MarkPairs[3].size(), 4u);
    for (const TMarkPair& p : read.MarkPairs[0]) {
      EXPECT_EQ(p.Xa, p.Xb);
      EXPECT_EQ(p.Ya, p.Yb);
    }
    // Star 1 is the centre of the turn: the last frame moved it by 3 (dx, dy).
    const TMarkPair& first = read.MarkPairs[3][0];
    EXPECT_NEAR(first.Xb - first.Xa, 3 * 1.2, 0.1);
    EXPECT_NEAR(first.Yb - first.Ya, 3 * -0.8, 0.1);
    std::filesystem::remove(list);
  }
}


// The last of four frames has one star out of place, so its fit leaves
// residuals well above the run's, and a background of 50 against 10: its
// weight below 1 pulls the sum's background, 4 x the weighted mean, below the
// equal-weight 4 x (3 x 10 + 50) / 4 = 80.
TEST_F(BatchMarkedRunTest, AFrameWhoseStarsFitBadlyCountsLess) {
  for (int k = 0; k < 4; ++k) {
    TStar stars[4] = {FourStars[0], FourStars[1], FourStars[2], FourStars[3]};
    if (k == 3) stars[3].At.X += 2.5f;
    std::vector<float> frame = StarFrame(k * 1.2, k * -0.8, 0, stars);
    if (k == 3)
      for (float& v : frame) v += 40;
    WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {frame});
  }
  Files(dir.file("f0001.fit"), "weighted.fit");
  MarkedAddBatch(3);
  MarkFirstImage(4);
  ASSERT_TRUE(Start());
  Run();
  EXPECT_EQ(labels.Label2, "Bearbeitung fertig.");
  FreeSlot(48);
  ASSERT_TRUE(LoadImageFile(48, dir.file("weighted.fit")));
  const std::vector<float> result = PlaneValues(48, 1);
  const float background = result[size_t(30) * W + 40];
  EXPECT_LT(background, 75.0f);
  EXPECT_GT(background, 4 * Background + 1);
}

// A box that follows a star from image to image: the star drifts by up to 11
// pixels a frame (more than half of a 15-pixel box), on a sky of 1000 with
// noise 10. Each frame's box is centred where the star was in the last one,
// so the star lies beyond its edge; where its light still reaches into the
// box the run measures it at its centre, else the frame's quality is below
// 1 (never a point elsewhere with a star's quality).
TEST_F(BatchMarkedRunTest, ABoxFollowsAStarDriftingUpToElevenPixelsAFrame) {
  constexpr double Sky = 1000, Noise = 10, Peak = 3000;
  struct Case {
    double dx, dy, sigma;
    int half;  // the box: 2 half + 1 pixels
  } cases[] = {{3, 1, 1.2, 7},     {7, -1.5, 1.8, 7},  {8.5, 1.2, 2.5, 7}, {11, 0.5, 2.5, 7},
               {11, -1, 1.6, 10},  {11, 1.5, 1.2, 10}, {9, 0, 1.2, 7},     {11, 0.8, 1.2, 7}};
  int followed = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.dx) + ", " + std::to_string(c.dy) + " px a frame, sigma " +
                 std::to_string(c.sigma) + ", box " + std::to_string(2 * c.half + 1));
    Restart();
    const TFloatPoint start{12.4f, 27.3f};
    constexpr int Frames = 5;
    std::mt19937 random(uint32_t(c.dx * 10 + c.half));
    std::normal_distribution<double> noise(0, Noise);
    for (int k = 0; k < Frames; ++k) {
      const double sx = start.X + k * c.dx, sy = start.Y + k * c.dy;
      std::vector<float> v(size_t(W) * H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          v[size_t(y) * W + x] = float(std::nearbyint(
              Sky + Peak * std::exp(-((x - sx) * (x - sx) + (y - sy) * (y - sy)) / (2 * c.sigma * c.sigma)) +
              noise(random)));
      WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {v});
    }
    const std::vector<TFollowed> moves =
        FollowedMoves(start, c.half, Frames, "drift" + std::to_string(int(&c - cases)) + ".fit");
    ASSERT_EQ(int(moves.size()), Frames);
    for (int k = 1; k < Frames; ++k) {
      const double mx = moves[size_t(k)].X, my = moves[size_t(k)].Y;
      const bool onStar = std::hypot(mx - k * c.dx, my - k * c.dy) < 0.05;
      EXPECT_TRUE(onStar || moves[size_t(k)].Quality < 1)
          << "frame " << k << ": moved " << mx << ", " << my << " with quality " << moves[size_t(k)].Quality;
      followed += onStar;
      if (!onStar) break;  // the box has lost the star: the later frames follow what it found
    }
  }
  std::printf("%d of 32 frames followed\n", followed);
  EXPECT_GE(followed, 28);
}

// A 21 x 21 box that follows a star of 1500 with a star 6.7 or 20 times as
// bright 12 to 14 pixels beside it, in a series whose seeing worsens in every
// second frame (all widths times 1.35, the fluxes kept, or those frames also
// through a sky 0.5 to 0.8 as clear) and which drifts by 0.7 pixels a frame:
// the box keeps its star in every frame (the build before the star rule let it
// jump to the neighbour in frames of worse seeing, 12 to 14 pixels off with a
// star's quality; the build before the second box's stars around it lost 37
// of the 72 frames through the thinner sky).
TEST_F(BatchMarkedRunTest, ABoxKeepsItsStarBesideABrightNeighbourWhenTheSeeingWorsens) {
  constexpr double Sky = 1000, Noise = 10, Peak = 1500;
  struct Case {
    double sigma, ratio, distance, side;
    bool thinner;
  };
  std::vector<Case> cases;
  for (const bool thinner : {false, true})
    for (const double sigma : {1.3, 1.6, 1.85})
      for (const double ratio : {6.7, 20.0})
        for (const double distance : {12.0, 13.0, 14.0})
          cases.push_back({sigma, ratio, distance, distance == 13 ? -1.0 : 1.0, thinner});
  int kept = 0, frames = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE("sigma " + std::to_string(c.sigma) + ", neighbour " + std::to_string(c.ratio) + " x at " +
                 std::to_string(c.side * c.distance) + " px" + (c.thinner ? ", thinner sky" : ""));
    Restart();
    const TFloatPoint start{36.4f, 29.3f};
    constexpr int Frames = 5;
    constexpr double Dx = 0.6, Dy = -0.4;
    std::mt19937 random(uint32_t(c.sigma * 100 + c.ratio + c.distance));
    std::normal_distribution<double> noise(0, Noise);
    for (int k = 0; k < Frames; ++k) {
      const double clear = c.thinner && k % 2 ? 0.5 + 0.15 * double((k / 2 + int(c.distance)) % 3) : 1.0;
      const double sigma = k % 2 ? 1.35 * c.sigma : c.sigma,
                   peak = clear * Peak * (c.sigma / sigma) * (c.sigma / sigma);
      const double sx = start.X + k * Dx, sy = start.Y + k * Dy;
      const TDrawnStar stars[] = {{sx, sy, peak, sigma}, {sx + c.side * c.distance, sy + 1.2, c.ratio * peak, sigma}};
      std::vector<float> v(size_t(W) * H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          double light = Sky + noise(random);
          for (const TDrawnStar& s : stars) light += TScene::StarLight(s, x, y);
          v[size_t(y) * W + x] = float(std::clamp(std::nearbyint(light), 0.0, 65535.0));
        }
      WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {v});
    }
    const std::vector<TFollowed> moves =
        FollowedMoves(start, 10, Frames, "seeing" + std::to_string(&c - cases.data()) + ".fit");
    ASSERT_EQ(int(moves.size()), Frames);
    for (int k = 1; k < Frames; ++k) {
      const double mx = moves[size_t(k)].X, my = moves[size_t(k)].Y;
      const bool onStar = std::hypot(mx - k * Dx, my - k * Dy) < 0.1;
      EXPECT_TRUE(onStar) << "frame " << k << ": moved " << mx << ", " << my << " with quality "
                          << moves[size_t(k)].Quality;
      kept += onStar;
      ++frames;
    }
  }
  std::printf("%d of %d frames keep the star\n", kept, frames);
}

// A dithered series (up to 4 pixels from the first frame) whose camera has a
// warm column (300 to 1500 above the sky, 24 pixels long) that the followed
// star passes through or beside, cosmic-ray tracks at the star in every third
// frame: how many frames' moves are the dither within 0.1 pixel, say no star,
// or are off; the column is never taken for the star (a point on it more than
// a pixel from the star, within 1.5 pixels of the column). The target is the
// running sum, where the earlier frames' columns and tracks, resampled, are
// no longer sharp and stand beside its star; every prompt is answered "Ok",
// so a frame that said no star is added all the same, and the reference
// point must stay where the first frame put it. The build before: 7
// followed, 10 said, 31 off, 4 on the column; with the sets of hit pixels
// but the reference measured anew in the sum: 17, 3, 28 (its points moved
// with the sum's). One frame still lands on the column: a track beside the
// star and the column through its wing, which the fit without them cannot
// tell apart.
TEST_F(BatchMarkedRunTest, ABoxFollowsItsStarPastAWarmColumn) {
  constexpr int Frames = 7, Series = 8;
  int followed = 0, said = 0, wrong = 0, onColumn = 0;
  std::mt19937 random(61);
  std::uniform_real_distribution<double> u(0, 1);
  for (int c = 0; c < Series; ++c) {
    Restart();
    const TFloatPoint start{36.3f + float(u(random)), 29.6f + float(u(random))};
    const double sigma = 1.3 + 0.7 * u(random), peak = 800 + 2200 * u(random), warm = 300 + 1200 * u(random);
    const int column = int(start.X) + 1 + c % 4;
    std::vector<std::pair<double, double>> dither{{0, 0}};
    for (int k = 1; k < Frames; ++k) dither.push_back({8 * u(random) - 4, 8 * u(random) - 4});
    for (int k = 0; k < Frames; ++k) {
      TScene s;
      s.Width = W;
      s.Height = H;
      s.Stars = {{start.X + dither[size_t(k)].first, start.Y + dither[size_t(k)].second, peak, sigma}};
      for (int y = 18; y < 42; ++y) s.Hot.push_back({column, y, warm});
      if (k % 3 == 2)
        s.AddDisturbance(random, TScene::TDisturbance::Track, int(std::nearbyint(s.Stars[0].X)),
                         int(std::nearbyint(s.Stars[0].Y)), k % 2 ? 0 : 2);
      WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {s.Render(uint32_t(70 + 10 * c + k))});
    }
    const std::vector<TFollowed> moves = FollowedMoves(start, 10, Frames, "warm" + std::to_string(c) + ".fit");
    ASSERT_EQ(int(moves.size()), Frames);
    for (int k = 1; k < Frames; ++k) {
      const double off = std::hypot(moves[size_t(k)].X - dither[size_t(k)].first,
                                    moves[size_t(k)].Y - dither[size_t(k)].second);
      const bool star = moves[size_t(k)].Quality >= 1;
      followed += star && off <= 0.1;
      said += !star;
      wrong += star && off > 0.1;
      // The point the frame measured: where the first frame's star lay, moved.
      const double x = start.X + moves[size_t(k)].X;
      onColumn += star && off > 1 && std::fabs(x - column) < 1.5;
    }
  }
  std::printf("past a warm column: %d of %d frames followed, %d said, %d off (%d on the column)\n", followed,
              Series * (Frames - 1), said, wrong, onColumn);
  EXPECT_LE(onColumn, 1);
  EXPECT_GE(followed, 32);
  EXPECT_LE(wrong, 12);
}

// The comet computation: the stars of f0001 and f0005 are aligned on one
// mark, the comet marked in both; it moves by (1.5, 0.5) per series image
// against the stars, which move by (0.9, -0.6).
TEST_F(BatchMarkedRunTest, TheCometComputationMarksTwoImagesAndGivesTheMotion) {
  const TFloatPoint comet{40, 30};
  const double cx = 1.5, cy = 0.5, dx = 0.9, dy = -0.6;
  for (int k = 0; k < 5; ++k) {
    const TStar stars[] = {{Star1, 1000}, {Star2, 700}, {{float(comet.X + k * cx), float(comet.Y + k * cy)}, 900}};
    WriteImage("f000" + std::to_string(k + 1) + ".fit", W, H, {StarFrame(k * dx, k * dy, 0, stars)});
  }
  for (const bool cancel : {false, true}) {
    SCOPED_TRACE(cancel);
    Restart();
    BatchRun.CometValuesSet = false;
    BatchRun.CometPerFrameX = BatchRun.CometPerFrameY = 0;
    Files(dir.file("f0001.fit"), "comet.fit");
    MarkedAddBatch(1);
    BatchRunView.ChooseImage = [&](const std::string&) { return cancel ? std::string() : dir.file("f0005.fit"); };
    answer = [&](int prompt, int target, int work) {
      const bool first = prompts.back().first == 0;
      if (prompt == 1) MarkStars(target, 1);
      if (prompts.back().second == CometPrompt()) {
        // A box drawn around the comet where it is in this image.
        const double k = first ? 0 : 4;
        DrawBox(first ? target : work, BoxAround(comet.X + k * (cx + dx), comet.Y + k * (cy + dy), 5));
      }
      Ok(true);
    };
    BatchTextSchreiben();
    ASSERT_TRUE(CheckCometComputation());
    BeginBatchRun();
    Run();
    EXPECT_EQ(std::count(ui.Messages.begin(), ui.Messages.end(), BatchCaption(TBatchCaption::SecondCometImage)), 1);
    EXPECT_FALSE(BatchRun.Running);
    if (cancel) {
      EXPECT_FALSE(BatchRun.CometValuesSet) << "a cancelled choice computes nothing";
      EXPECT_EQ(prompts.size(), 2u);
      continue;
    }
    // Stars, comet; then the second image's stars confirmed and its comet.
    ASSERT_EQ(prompts.size(), 4u);
    EXPECT_EQ(prompts[1].second, CometPrompt());
    EXPECT_EQ(prompts[2].first, 1);
    EXPECT_EQ(prompts[3].second, CometPrompt());
    EXPECT_TRUE(kept.has_value());
    EXPECT_EQ(BatchRun.CometSeriesA, 1);
    EXPECT_EQ(BatchRun.CometSeriesB, 5);
    ASSERT_TRUE(BatchRun.CometValuesSet);
    // The first position less the second carried into the first image's
    // frame, per series image.
    EXPECT_NEAR(BatchRun.CometPerFrameX, -cx, 0.05);
    EXPECT_NEAR(BatchRun.CometPerFrameY, -cy, 0.05);
    EXPECT_FALSE(Exists(dir.file("comet.fit"))) << "the computation writes no target";
    EXPECT_NE(labels.Label2, "Bearbeitung fertig.") << "nor claims to have stacked";
  }
}

// A rerun keeping the best three of four listed images, the reference (the
// first) among the dropped: the new first image goes onto the lost
// reference's grid, and so does the sum.
TEST_F(BatchMarkedRunTest, AListThatLostItsReferencePutsTheFirstImageOnTheReferenceGrid) {
  for (const int marks : {1, 4}) {
    SCOPED_TRACE(marks);
    Restart();
    const std::string start = Frames(4, 1.3, -0.7, marks == 4 ? 0.6 : 0, FourStars);
    Files(start, "first" + std::to_string(marks) + ".fit");
    MarkedAddBatch(std::min(marks, 3));
    MarkFirstImage(marks == 1 ? 1 : 4);
    ASSERT_TRUE(Start());
    Run();
    const std::string name = "VList_" + std::to_string(marks) + "Stars_4files.qvl";
    TShiftListFile list;
    std::string error;
    ASSERT_TRUE(ReadShiftListFile(dir.file(name), list, error)) << error;
    std::filesystem::remove(dir.file(name));
    list.Qualities = {1, 5, 6, 7};
    ASSERT_TRUE(SelectBestImages(list, "75"));
    ASSERT_EQ(list.Count(), 3);

    Restart();
    const std::string result = "dropped" + std::to_string(marks) + ".fit";
    Files(start, result);
    MarkedAddBatch(marks);
    BatchRun.UseShiftList = true;
    BatchRun.ReferenceDropped = true;
    InstallRunShiftList(list);
    BatchRun.ShiftListCount = list.Count();
    ASSERT_TRUE(Start());
    Run();
    EXPECT_EQ(labels.Label1, "3 Bilder Add");
    FreeSlot(48);
    ASSERT_TRUE(LoadImageFile(48, dir.file(result)));
    const std::vector<float> sum = PlaneValues(48, 1);
    for (const TStar& star : FourStars) {
      const TFloatPoint at = Centroid(sum, 3 * Background, star.At);
      EXPECT_NEAR(at.X, star.At.X, 0.15);
      EXPECT_NEAR(at.Y, star.At.Y, 0.15);
    }
    FreeSlot(48);
  }
}

}  // namespace
}  // namespace astrelon::test
