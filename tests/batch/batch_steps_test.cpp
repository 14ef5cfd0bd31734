// Single batch steps on a work image: sizes and values of the geometry and
// pixel operations, refused values, the filters compared with the filter
// dialog's functions, files that fail, and the enlargement and network steps.
#include <cmath>

#include "../filters/network_test_nets.h"
#include "batch/exec/batch_step_dispatch.h"
#include "batch/exec/step_values.h"
#include "batch_run_fixture.h"
#include "filters/dialog/filter_functions.h"
#include "filters/dialog/noise_filter_functions.h"
#include "frequency/interference/interference_filter.h"
#include "frequency/interference/periodic_noise_filter.h"
#include "store/color_models.h"
#include "store/display/histogram_settings_file.h"

namespace astrelon::test {
namespace {

class BatchStepTest : public BatchRunTest {
protected:
  static constexpr int W = 100, H = 80;
  static constexpr int Work = 1;

  // A 100 x 80 image with value x + 1000 y (three planes: + 100000 p).
  static void Gradient(int planes = 1) {
    std::vector<std::vector<float>> v(size_t(planes), std::vector<float>(size_t(W) * H));
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) v[size_t(p)][size_t(y) * W + x] = float(x + 1000 * y + 100000 * p);
    MakeImage(Work, W, H, v, "/in/img.fit");
    if (planes == 3) SetHeader3Axis(Work);
    UpdateMinMax(Work);
  }
  // Step 2 of operation op with values; runs it on the work image.
  void RunStep(TBatchOp op, std::vector<std::string> values = {}, bool option = false, int32_t flags = -2) {
    BatchSteps = TBatchStepList();
    Steps({op});
    for (size_t i = 0; i < values.size(); ++i) Step(2).Values[i] = values[i];
    if (!option) Step(2).OptionCaption.clear();
    if (flags != -2) Step(2).OptionFlags = flags;
    BatchRun.WorkSlot = Work;
    BatchTextSchreiben();
    RunBatchStep(2);
  }
  static const TImageSlot& Image() { return Store.Image[Work]; }
  static float At(int x, int y, int p = 1) { return Image().At(p, x, y); }
};

TEST_F(BatchStepTest, CropAndBorderSizes) {
  Gradient();
  RunStep(1, {"-10", "10", "5", "5"});
  ASSERT_EQ(Image().Width, 90);
  ASSERT_EQ(Image().Height, 60);
  EXPECT_EQ(At(0, 0), 5 + 1000 * 10);
  EXPECT_EQ(At(89, 59), 94 + 1000 * 69);
  Gradient();
  RunStep(2, {"1", "2", "3", "4"});
  ASSERT_EQ(Image().Width, 107);
  ASSERT_EQ(Image().Height, 83);
  EXPECT_EQ(At(3, 1), 0);
  EXPECT_EQ(At(102, 80), 99 + 1000 * 79);
  for (const auto& [x, y] : {std::pair{0, 0}, {106, 82}, {2, 40}, {50, 0}, {50, 82}, {103, 40}})
    EXPECT_FALSE(IsValidPixel(At(x, y))) << x << "," << y;
  EXPECT_TRUE(ui.Messages.empty());
}

TEST_F(BatchStepTest, RefusedSizesLeaveTheImageAndSaySo) {
  struct Case {
    TBatchOp op;
    std::vector<std::string> values;
    const char* name;
  };
  const Case cases[] = {
      {3, {"0.001", "1"}, "Bildgröße ändern"},
      {3, {"-2", "1"}, "Bildgröße ändern"},
      {2, {"1", "-1", "0", "0"}, "Rand hinzufügen"},
      {1, {"40", "40", "0", "0"}, "Ausschneiden"},
  };
  for (const Case& c : cases) {
    Gradient();
    ui.Messages.clear();
    RunStep(c.op, c.values);
    EXPECT_EQ(Image().Width, W) << c.name;
    EXPECT_EQ(Image().Height, H) << c.name;
    EXPECT_EQ(ui.Messages, std::vector<std::string>{std::string("Fehler: ") + c.name});
  }
  // Pixel counts: 50 x 40, and with the proportion kept 50 x 40 for 50 x 90.
  Gradient();
  RunStep(3, {"50", "40"}, true, 2);
  EXPECT_EQ(Image().Width, 50);
  EXPECT_EQ(Image().Height, 40);
  Gradient();
  RunStep(3, {"50", "90"}, true, 2 | 4);
  EXPECT_EQ(Image().Width, 50);
  EXPECT_EQ(Image().Height, 40);
}

TEST_F(BatchStepTest, ValuesThatAreNoNumbersAreErrorsOfTheRun) {
  Gradient();
  EXPECT_THROW(RunStep(7, {"0.5"}), TBatchStepError);
  EXPECT_THROW(RunStep(4, {"abc"}), TBatchStepError);
  try {
    RunStep(8, {"12x"});
  } catch (const TBatchStepError& e) {
    EXPECT_STREQ(e.what(), "'12x' ist keine gültige Zahl");
  }
  EXPECT_EQ(At(3, 2), 3 + 2000);
  RunStep(7, {" 2500 "});
  EXPECT_EQ(At(0, 0), 2500);
}

TEST_F(BatchStepTest, BackgroundPercentIsLimitedTo0To100) {
  auto result = [&](const char* percent) {
    Gradient(3);
    RunStep(22, {percent});
    return PlaneValues(Work, 1);
  };
  EXPECT_EQ(result("150"), result("100"));
  EXPECT_EQ(result("-5"), result("0"));
  EXPECT_NE(result("50"), result("0"));
  // The colour planes each lose their own level.
  Gradient(3);
  RunStep(22, {"0"});
  for (int p = 1; p <= 3; ++p) EXPECT_CLOSE(At(0, 0, p), 0, 50) << p;
}

TEST_F(BatchStepTest, MirrorSquareAndRootOnEveryPlane) {
  MakeImage(Work, 3, 1, {{1, -2, 4}, {1, -2, 4}, {1, -2, 4}});
  Store.Display[Work].ChannelSelection = 2;  // the green plane alone is shown
  RunStep(21);
  EXPECT_EQ(PlaneValues(Work, 1), (std::vector<float>{4, -2, 1}));
  RunStep(23);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(Work, p), (std::vector<float>{16, 4, 1})) << p;
  MakeImage(Work, 4, 1, {{16, -9, 0, BlankPixel}, {16, -9, 0, BlankPixel}, {16, -9, 0, BlankPixel}});
  Store.Display[Work].ChannelSelection = 2;
  RunStep(26);
  for (int p = 1; p <= 3; ++p) EXPECT_EQ(PlaneValues(Work, p), (std::vector<float>{4, -9, 0, BlankPixel})) << p;
}

TEST_F(BatchStepTest, SaturationZeroGivesTheLuminance) {
  MakeImage(Work, 2, 1, {{100, 10}, {50, 20}, {0, 30}});
  RunStep(35, {"0"});
  for (int p = 1; p <= 3; ++p) {
    EXPECT_CLOSE(At(0, 0, p), 0.299 * 100 + 0.587 * 50, 1e-3) << p;
    EXPECT_CLOSE(At(1, 0, p), 0.299 * 10 + 0.587 * 20 + 0.114 * 30, 1e-3) << p;
  }
  // 200 % doubles the distance from the luminance; a grey image stays.
  MakeImage(Work, 1, 1, {{100}, {50}, {0}});
  RunStep(35, {"200"});
  EXPECT_CLOSE(At(0, 0, 3), -(0.299 * 100 + 0.587 * 50), 1e-3);
  MakeImage(Work, 2, 1, {{7, 8}});
  RunStep(35, {"0"});
  EXPECT_EQ(PlaneValues(Work, 1), (std::vector<float>{7, 8}));
}

TEST_F(BatchStepTest, FiltersEqualTheFilterDialogsFunctions) {
  struct Case {
    TBatchOp op;
    int funktion;
    std::vector<std::string> values;
    TFilterFunktion (*entry)();
    int planes;
  };
  const Case cases[] = {
      {39, 4, {"15", "3.25", "50"}, NoiseFilterFunktion, 1},
      {43, 14, {"9", "2"}, MedianFilterFunktion, 1},
      {30, 12, {"25", "5.5"}, ColorNoiseFunktion, 3},
  };
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(1000, 40);
  for (const Case& c : cases) {
    std::vector<std::vector<float>> planes(size_t(c.planes), std::vector<float>(size_t(40) * 30));
    for (auto& p : planes)
      for (float& v : p) v = noise(rng);
    // The dialog's way: a result copy, the function's start, its run over the whole image.
    MakeImage(2, 40, 30, planes);
    MakeImage(3, 40, 30, planes);
    UpdateMinMax(2);
    UpdateMinMax(3);
    const TFilterFunktion f = c.entry();
    if (f.Started) f.Started(2, 3);
    if (f.Shown) f.Shown(2, 3);
    TFilterPoll poll;
    TFilterCall call;
    call.Funktion = c.funktion;
    call.Source = 2;
    call.Destination = 3;
    call.Rect = {0, 39, 0, 29};
    call.Planes = {false, true, c.planes == 3, c.planes == 3};
    for (size_t i = 0; i < c.values.size(); ++i) call.Value[i + 1] = std::stof(c.values[i]);
    call.Poll = &poll;
    f.Run(call);
    if (f.Hidden) f.Hidden(2, 3);
    // The batch's way.
    MakeImage(Work, 40, 30, planes);
    UpdateMinMax(Work);
    RunStep(c.op, c.values);
    for (int p = 1; p <= c.planes; ++p) EXPECT_EQ(PlaneValues(Work, p), PlaneValues(3, p)) << c.op << " plane " << p;
    EXPECT_NE(PlaneValues(Work, 1), planes[0]) << c.op << " filters";
    EXPECT_FALSE(SlotInUse(4)) << "the copy is freed";
  }
}

TEST_F(BatchStepTest, InterferenceFilterByItsDimension) {
  std::vector<float> v(size_t(64) * 48);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) v[size_t(y) * 64 + x] = 500 + 100 * std::sin(x * 1.9) + 20 * std::cos(y * 0.3);
  // "2 " (trailing blank): the 2D filter; "1": the row filter.
  MakeImage(5, 64, 48, {v});
  const int r = FilterPeriodicNoiseFft(5, StoredPeriodicNoiseK());
  ASSERT_GE(r, 1);
  const std::vector<float> twoD = PlaneValues(r, 1);
  FreeSlot(r);
  MakeImage(6, 64, 48, {v});
  RemoveInterference1D(5, 6);
  const std::vector<float> oneD = PlaneValues(6, 1);
  Store.Reset();
  MakeImage(Work, 64, 48, {v});
  RunStep(28, {"2 "});
  EXPECT_EQ(PlaneValues(Work, 1), twoD);
  MakeImage(Work, 64, 48, {v});
  RunStep(28, {"1"});
  EXPECT_EQ(PlaneValues(Work, 1), oneD);
  EXPECT_NE(oneD, twoD);
}

TEST_F(BatchStepTest, NetworkAndEnlargementSteps) {
  Gradient();
  RunStep(32, {dir.file("none.nnf"), "1.0"});
  EXPECT_EQ(ui.Messages, std::vector<std::string>{"Fehler: Universeller NN-Filter"});
  EXPECT_EQ(At(5, 5), 5005);
  // A network whose output is its bias: every filtered pixel moves.
  MakeZeroNetwork(11, 8, {-5.0f, -5.0f, -5.0f, -5.0f});
  const std::string file = dir.file("low.nnf");
  ASSERT_TRUE(WriteUniversalNetworkFile(file, Network));
  Gradient();
  ui.Messages.clear();
  RunStep(32, {file, "1.0"});
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_LT(At(5, 5), 5005);
  // The hi-f enlargement doubles the image; without a routine the step says so.
  Gradient();
  ui.Messages.clear();
  RunStep(31, {"1"});
  EXPECT_TRUE(ui.Messages.empty());
  EXPECT_EQ(Image().Width, 2 * W);
  EXPECT_EQ(Image().Height, 2 * H);
  BatchEnlargeX2 = nullptr;
  Gradient();
  ui.Messages.clear();
  RunStep(31, {"1"});
  EXPECT_EQ(ui.Messages, std::vector<std::string>{"Fehler: Bildgröße x2 hi-f tri"});
  EXPECT_EQ(Image().Width, W);
  BatchEnlargeX2 = [](int source, int destination, int32_t sharpening) {
    EXPECT_EQ(sharpening, 3);
    const TImageSlot& s = Store.Image[size_t(source)];
    MakeImage(destination, 2 * s.Width, 2 * s.Height, {std::vector<float>(4 * s.PixelCount(), 1.0f)});
    return true;
  };
  RunStep(31, {"3"});
  EXPECT_EQ(Image().Width, 2 * W);
  EXPECT_EQ(Image().Height, 2 * H);
}

TEST_F(BatchStepTest, HistogramFunctionKeepsTheLoadedGammaOnAuto) {
  // Settings files with gamma 1 and 0.5, saved from a display record.
  auto settings = [&](float gamma) {
    Gradient();
    Store.Display[Work].Gamma = gamma;
    Store.Display[Work].Black = 0;
    Store.Display[Work].White = 10;
    const std::string file = dir.file("g" + std::to_string(int(gamma * 10)) + ".qzh");
    EXPECT_TRUE(SaveHistogramSettings(Work, file));
    return file;
  };
  const std::string linear = settings(1.0f), curved = settings(0.5f);
  Options.GammaAdjust = 1;  // the automatic range would estimate a gamma of its own
  auto middle = [&](const std::string& file) {
    Gradient();
    RunStep(34, {file, "Auto", "0", "1000"});
    return PlaneValues(Work, 1);
  };
  const std::vector<float> a = middle(linear), b = middle(curved);
  EXPECT_NE(a, b);
  // Given black and white points: 0 .. 79099 onto 0 .. 1000, linear.
  Gradient();
  RunStep(34, {linear, "0", "79099", "1000"});
  EXPECT_CLOSE(At(99, 79), 1000, 0.5);
  EXPECT_CLOSE(At(99, 39), 1000.0 * (99 + 39000) / 79099, 0.5);
  Options.GammaAdjust = 0;
}

TEST_F(BatchStepTest, StoreCheckSetsFullZoomAndEndsTheRunWithoutAFreeSlot) {
  Gradient();
  Store.Display[Work].ZoomPercent = 10;
  RunStep(15);
  EXPECT_EQ(Store.Display[Work].ZoomPercent, 100);
  EXPECT_FALSE(BatchRun.EndOfRun);
  for (int s = 2; s <= MaxImageSlots; ++s) MakeImage(s, 1, 1, {{0}});
  RunStep(39, {"15", "3.25", "50"});
  EXPECT_TRUE(BatchRun.EndOfRun);
  // Operations before the check do not test the store.
  BatchRun.EndOfRun = false;
  RunStep(4, {"1"});
  EXPECT_FALSE(BatchRun.EndOfRun);
  EXPECT_EQ(At(0, 0), 1);
}

}  // namespace
}  // namespace astrelon::test
