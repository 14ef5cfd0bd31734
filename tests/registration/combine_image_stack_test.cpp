// Stack combination of frame files: levelling, the three statistics, bands,
// missing files, abort and the alignment modes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "common/engine_ui.h"
#include "core/batch_series.h"
#include "core/batch_state.h"
#include "platform/avi_reader.h"
#include "platform/memory_probe.h"
#include "registration/stacking/combine_image_stack.h"
#include "registration/stacking/master_frame_state.h"
#include "registration/stacking/stack_alignment.h"
#include "store/fits/fits_writer.h"
#include "store/image_store.h"
#include "store/pictures/graphic_to_slot.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr int Target = 5;
constexpr float Blank = -1e11f;

class CombineImageStackTest : public StoreTest {
protected:
  void SetUp() override {
    StoreTest::SetUp();
    SetEngineUi(&ui_);
    BatchAbort = 0;
    BatchMarkCount = 0;
    BatchStarPairs.clear();
    SeriesFileList.clear();
  }
  void TearDown() override {
    SetEngineUi(nullptr);
    AvailableMemoryOverride = nullptr;
    StackAlignment = nullptr;
    BatchAbort = 0;
    BatchMarkCount = 0;
    StoreTest::TearDown();
  }
  // Writes a grey w x h frame as a 32-bit float FITS file and adds it to the run's list.
  void AddFrame(int w, int h, const std::vector<float>& values) {
    const std::string path = dir_.file("f" + std::to_string(SeriesFileList.size()) + ".fit");
    MakeImage(40, w, h, {values}, path);
    ASSERT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    SeriesFileList.push_back(path);
  }
  int Run(int count, TStackMethod method, bool flat = false) {
    Store.FileName[Target] = "/d/master.fit";
    return CombineImageStack({.TargetSlot = Target, .Count = count, .Method = method, .IsFlat = flat});
  }
  static std::vector<float> Result() {
    const auto& v = Store.Image[Target].Planes[1];
    return {v.begin(), v.end()};
  }
  static bool HasCard(const std::string& text) {
    for (const std::string& c : Store.Header[Target].Cards)
      if (c.rfind(text, 0) == 0 && c.find_first_not_of(' ', text.size()) == std::string::npos) return true;
    return false;
  }
  TEngineUi ui_;
  TempDir dir_;
};

TEST_F(CombineImageStackTest, RefusesTooFewFramesAndBadTargetsWithoutLoading) {
  for (float v : {1.f, 2.f, 3.f}) AddFrame(4, 3, std::vector<float>(12, v));
  EXPECT_EQ(Run(2, TStackMethod::Median), -1);
  EXPECT_FALSE(Store.InUse[Target]);
  EXPECT_EQ(CombineImageStack({.TargetSlot = 0, .Count = 3}), -1);
  EXPECT_FALSE(Store.InUse[0]);
  // More frames asked than the list holds: only the list's three are taken.
  EXPECT_EQ(Run(5000, TStackMethod::Median), 3);
  SeriesFileList[0] = dir_.file("none.fit");
  Store.Reset();
  EXPECT_EQ(Run(3, TStackMethod::Median), -1);
  // The first frame that cannot be read is named.
  EXPECT_EQ(ui_.Messages, std::vector<std::string>{dir_.file("none.fit") + "\r\n ist nicht vorhanden."});
}

TEST_F(CombineImageStackTest, ConstantFramesAreBroughtToTheMedianLevel) {
  struct Case {
    std::vector<float> levels;
    bool flat;
    TStackMethod method;
    float expected;
    const char* card;
  };
  const Case cases[] = {
      {{100, 110, 120}, false, TStackMethod::Median, 110, "HISTORY 3 Bilder Median"},
      {{1000, 2000, 3000}, true, TStackMethod::Median, 2000, "HISTORY 3 Bilder Median"},
      {{100, 120, 110, 130}, false, TStackMethod::Sigma, 115, "HISTORY 4 Bilder Sigma"},
      {{5, 5, 5}, false, TStackMethod::MeanMed, 5, "HISTORY 3 Bilder Mittelmed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.card);
    Store.Reset();
    SeriesFileList.clear();
    for (float v : c.levels) AddFrame(5, 4, std::vector<float>(20, v));
    ASSERT_EQ(Run(int(c.levels.size()), c.method, c.flat), int(c.levels.size()));
    for (float v : Result()) EXPECT_CLOSE(v, c.expected, 1e-3);
    EXPECT_TRUE(HasCard(c.card));
    EXPECT_EQ(Store.FileName[Target], "/d/master.fit");
  }
}

TEST_F(CombineImageStackTest, FlatDarkIsSubtractedBeforeLevelling) {
  for (float v : {1000.f, 2000.f, 3000.f}) AddFrame(4, 3, std::vector<float>(12, v));
  MakeImage(9, 4, 3, {std::vector<float>(12, 100.0f)});
  FlatDarkSlot = 9;
  // Each flat minus the dark scaled to 1000 - 100; the median level difference 1000 on top.
  const int n = Run(3, TStackMethod::Median, true);
  FlatDarkSlot = -1;
  ASSERT_EQ(n, 3);
  for (float v : Result()) EXPECT_CLOSE(v, 1900, 1e-3);
}

TEST_F(CombineImageStackTest, VideoFramesStackLikeTheSameFramesAsFiles) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg missing";
  const std::string video = dir_.file("v.avi");
  ASSERT_EQ(std::system(("ffmpeg -y -f lavfi -i testsrc=size=32x24:rate=5 -frames:v 5 -c:v rawvideo -pix_fmt gray " +
                         video + " >/dev/null 2>&1").c_str()),
            0);
  TAviReader reader;
  ASSERT_TRUE(OpenAviStream(reader, video, false));
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(ReadAviFrame(reader, i, false));
    ASSERT_TRUE(GraphicToSlot(reader.Frame, 40, true));
    const std::string path = dir_.file("frame" + std::to_string(i) + ".fit");
    ASSERT_TRUE(SaveFits(40, -32, path, false, false));
    FreeSlot(40);
    SeriesFileList.push_back(path);
  }
  ASSERT_EQ(Run(5, TStackMethod::Sigma), 5);
  const std::vector<float> fromFiles = Result();
  Store.Reset();
  for (std::string& name : SeriesFileList) name = "/nowhere/f" + name.substr(name.size() - 5);
  BatchVideoInput = 1;
  StackVideo = &reader;
  const int n = Run(5, TStackMethod::Sigma);
  BatchVideoInput = 0;
  StackVideo = nullptr;
  ASSERT_EQ(n, 5);
  EXPECT_EQ(Result(), fromFiles);
  EXPECT_TRUE(ui_.Messages.empty());
}

TEST_F(CombineImageStackTest, MiddleValueMeanOfTwoOneValueAndBlank) {
  // Equal histograms in every frame (same values, other places) give equal levels.
  auto frame = [](float a, float b, float c) {
    std::vector<float> v(16, 50.0f);
    v[0] = 0;
    v[15] = 100;
    v[5] = a;   // three valid values
    v[6] = b;   // blank in frame 0
    v[9] = c;   // valid in frame 2 only
    v[10] = Blank;
    return v;
  };
  AddFrame(4, 4, frame(10, Blank, Blank));
  AddFrame(4, 4, frame(90, 30, Blank));
  AddFrame(4, 4, frame(60, 40, 70));
  ASSERT_EQ(Run(3, TStackMethod::MeanMed), 3);
  const std::vector<float> r = Result();
  EXPECT_CLOSE(r[5], 60, 1e-4);
  EXPECT_CLOSE(r[6], 35, 1e-4);
  EXPECT_CLOSE(r[9], 70, 1e-4);
  EXPECT_EQ(r[10], Blank);
  EXPECT_CLOSE(r[1], 50, 1e-4);
}

// Twenty frames that hold the same values in other orders; the median of each
// pixel over the frames.
class PermutedFrames : public CombineImageStackTest {
protected:
  static constexpr int W = 7, H = 9, N = 20;
  void Write() {
    std::mt19937 rng(7);
    std::vector<float> base(W * H);
    for (size_t k = 0; k < base.size(); ++k) base[k] = float(k % 23) * 3.5f + float(k / 23);
    for (int i = 0; i < N; ++i) {
      std::shuffle(base.begin(), base.end(), rng);
      frames_.push_back(base);
      AddFrame(W, H, base);
    }
  }
  std::vector<std::vector<float>> frames_;
};

TEST_F(PermutedFrames, MedianPerPixel) {
  Write();
  ASSERT_EQ(Run(N, TStackMethod::Median), N);
  const std::vector<float> r = Result();
  for (size_t k = 0; k < r.size(); ++k) {
    std::vector<float> v;
    for (const auto& f : frames_) v.push_back(f[k]);
    std::sort(v.begin(), v.end());
    EXPECT_CLOSE(r[k], (v[N / 2 - 1] + v[N / 2]) / 2, 1e-4) << k;
  }
}

TEST_F(PermutedFrames, ThreeBandsGiveTheSameBitsAsOne) {
  Write();
  for (TStackMethod m : {TStackMethod::Sigma, TStackMethod::MeanMed, TStackMethod::Median}) {
    static uint64_t memory = 0;
    AvailableMemoryOverride = [] { return memory; };
    memory = uint64_t(1) << 40;
    ASSERT_EQ(StackBandRows(memory, W, H, N, 1), H);
    Store.Reset();
    ASSERT_EQ(Run(N, m), N);
    const std::vector<float> one = Result();
    memory = 4 * W * H + 3 * 7 * W * N;  // three rows per band
    ASSERT_EQ(StackBandRows(memory, W, H, N, 1), 3);
    Store.Reset();
    ASSERT_EQ(Run(N, m), N);
    EXPECT_EQ(Result(), one);
  }
}

TEST(StackBandRows, BoundedByMemoryHeightAndValueCap) {
  EXPECT_EQ(StackBandRows(0, 100, 50, 4, 1), 50);  // (4 * 50) / 4, at most H
  EXPECT_EQ(StackBandRows(0, 100, 50, 40, 1), 5);
  EXPECT_EQ(StackBandRows(1000, 100, 50, 4, 1), 1);  // less than the target needs
  EXPECT_EQ(StackBandRows(uint64_t(1) << 40, 4096, 3072, 20, 1), 2441);  // 2e8 / (4096 * 20)
  EXPECT_EQ(StackBandRows(uint64_t(1) << 40, 300'000'000, 2, 3, 1), 1);  // one row above the cap
}

TEST_F(CombineImageStackTest, MissingFileIsNamedAndTheRunGoesOn) {
  for (float v : {10.f, 20.f, 30.f}) AddFrame(3, 3, std::vector<float>(9, v));
  SeriesFileList.insert(SeriesFileList.begin() + 1, dir_.file("gone.fit"));
  ASSERT_EQ(Run(4, TStackMethod::Median), 3);  // the frames used
  ASSERT_EQ(ui_.Messages.size(), 1u);
  EXPECT_EQ(ui_.Messages[0], dir_.file("gone.fit") + "\r\n ist nicht vorhanden.");
  EXPECT_TRUE(HasCard("HISTORY 3 Bilder Median"));
  // Levels 0, (missing) 0, 10, 20: median difference 5 on top of the levelled 10.
  for (float v : Result()) EXPECT_CLOSE(v, 15, 1e-4);
}

// Over three bands, a missing, an unreadable and an odd-sized frame each say so
// once, in the first band, and are left out of the later bands and of the count.
TEST_F(CombineImageStackTest, BadFramesSpeakOnceAndAreNotCounted) {
  const int W = 9, H = 9;
  for (float v : {10.f, 20.f, 30.f}) AddFrame(W, H, std::vector<float>(size_t(W * H), v));
  const std::string missing = dir_.file("gone.fit"), junk = dir_.file("junk.fit");
  WriteText(junk, "no image here");
  AddFrame(W - 1, H, std::vector<float>(size_t((W - 1) * H), 99.f));
  const std::string odd = SeriesFileList.back();
  SeriesFileList.insert(SeriesFileList.begin() + 1, missing);
  SeriesFileList.insert(SeriesFileList.begin() + 3, junk);
  const int n = int(SeriesFileList.size());
  static uint64_t memory = 0;
  memory = uint64_t(4 * W * H + 3 * 7 * W * n);
  AvailableMemoryOverride = [] { return memory; };
  ASSERT_EQ(StackBandRows(memory, W, H, n, 1), 3);
  for (TStackMethod m : {TStackMethod::Median, TStackMethod::Sigma}) {
    ui_.Messages.clear();
    Store.Reset();
    ASSERT_EQ(Run(n, m), 3);
    // The missing file, the reader about the unreadable one, the odd-sized one.
    ASSERT_EQ(ui_.Messages.size(), 3u);
    EXPECT_EQ(ui_.Messages[0], missing + "\r\n ist nicht vorhanden.");
    EXPECT_NE(ui_.Messages[1].find("junk.fit"), std::string::npos) << ui_.Messages[1];
    EXPECT_EQ(ui_.Messages[2], odd + "\r\n hat nicht die Größe oder die Farbebenen des ersten Bildes und wird ausgelassen.");
    EXPECT_TRUE(HasCard("HISTORY 3 Bilder " + std::string(StackMethodName(m))));
    for (float v : Result()) EXPECT_CLOSE(v, 10, 1e-4);
  }
}

TEST_F(CombineImageStackTest, AbortedRunWritesItsCardAndFails) {
  struct AbortUi : TEngineUi {
    void ProcessMessages() override { BatchAbort = 1; }
  } abortUi;
  SetEngineUi(&abortUi);
  for (float v : {1.f, 2.f, 3.f}) AddFrame(3, 3, std::vector<float>(9, v));
  EXPECT_EQ(Run(3, TStackMethod::Sigma), -1);
  EXPECT_TRUE(HasCard("HISTORY 3 Bilder Sigma"));
  EXPECT_EQ(Store.FileName[Target], "/d/master.fit");
}

// A smooth scene and frames that show it moved; aligned, every frame lands on
// frame 0.
class AlignedFrames : public CombineImageStackTest {
protected:
  static constexpr int W = 24, H = 20;
  static float Scene(double x, double y) {
    return float(100 + 50 * std::exp(-((x - 11) * (x - 11) + (y - 9) * (y - 9)) / 18.0) + 0.5 * x);
  }
  // Frame whose pixel (x, y) shows the scene at map(x, y).
  template <typename Map>
  void AddMapped(Map map) {
    std::vector<float> v(W * H);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        double sx = 0, sy = 0;
        map(x, y, sx, sy);
        v[size_t(y * W + x)] = Scene(sx, sy);
      }
    AddFrame(W, H, v);
  }
  // Inner pixels (every frame covers them) equal the scene.
  void ExpectScene(int margin, float tol) {
    const std::vector<float> r = Result();
    for (int y = margin; y < H - margin; ++y)
      for (int x = margin; x < W - margin; ++x) EXPECT_CLOSE(r[size_t(y * W + x)], Scene(x, y), tol) << x << "," << y;
  }
};

TEST_F(AlignedFrames, OneMarkShiftsEachFrame) {
  const int shifts[][2] = {{0, 0}, {2, -1}, {-3, 2}};
  for (auto s : shifts) {
    AddMapped([&](int x, int y, double& sx, double& sy) {
      sx = x - s[0];
      sy = y - s[1];
    });
    BatchStarPairs.push_back({10, 8, 0, 0, float(10 + s[0]), float(8 + s[1]), 0, 0});
  }
  BatchMarkCount = 1;
  ASSERT_EQ(Run(3, TStackMethod::Median), 3);
  ExpectScene(4, 1e-3f);
}

TEST_F(AlignedFrames, TwoMarksTurnEachFrame) {
  // Frame 1 is the scene turned by 90 degrees about (12, 10), frame 2 by -90 degrees.
  const double cx = 12, cy = 10;
  AddMapped([](int x, int y, double& sx, double& sy) { sx = x, sy = y; });
  AddMapped([&](int x, int y, double& sx, double& sy) { sx = cx + (y - cy), sy = cy - (x - cx); });
  AddMapped([&](int x, int y, double& sx, double& sy) { sx = cx - (y - cy), sy = cy + (x - cx); });
  // Stars at A1 = (12, 10), A2 = (16, 10) in frame 0: in frame 1 at (12, 10), (12, 14).
  BatchStarPairs = {{12, 10, 16, 10, 12, 10, 16, 10}, {12, 10, 16, 10, 12, 10, 12, 14}, {12, 10, 16, 10, 12, 10, 12, 6}};
  BatchMarkCount = 2;
  ASSERT_EQ(Run(3, TStackMethod::Median), 3);
  ExpectScene(8, 1e-3f);
}

TEST_F(AlignedFrames, ManyMarksUseTheFittedTransformAndShiftGrid) {
  struct FakeAlignment : TStackAlignment {
    void ApplyShiftListMarks(int, int, int) override { ++applied; }
    TFittedTransform FitMarksToReference(int, int) override { return {.Tx = 5, .Ty = 2, .Ox = 4, .Oy = 1}; }
    const TShiftGrid& BuildShiftGrid(int, int, int, int) override { return grid; }
    TShiftGrid grid;
    int applied = 0;
  } fake;
  // Fit (1, 1) plus a grid of (1, -2): scene point (c, r) lies at (c + 2, r - 1) of the frame.
  fake.grid.NodesPerRow = W / 4 + 1;
  for (int k = 0; k < fake.grid.NodesPerRow * (H / 4 + 1); ++k) fake.grid.Nodes.insert(fake.grid.Nodes.end(), {1, -2});
  StackAlignment = &fake;
  for (int i = 0; i < 3; ++i)
    AddMapped([&](int x, int y, double& sx, double& sy) {
      sx = i == 0 ? x : x - 2;
      sy = i == 0 ? y : y + 1;
    });
  BatchMarkCount = 3;
  ASSERT_EQ(Run(3, TStackMethod::Median), 3);
  EXPECT_EQ(fake.applied, 3);  // the first frame's marks, then frames 1 and 2
  ExpectScene(3, 1e-3f);
}

}  // namespace
}  // namespace astrelon::test
