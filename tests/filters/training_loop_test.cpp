// The training loop and its controls: the panel's up/down steps, the rate's
// decay and its hold while the network grows, growth every G + 1
// evaluations, the automatic phase switching to the end of phase 3, only the
// trained blocks changing between evaluations, the same network from the
// same seed; the samples of the universal and debayer trainings.
#include "filters/training/training_loop.h"

#include <cmath>
#include <set>

#include "filter_images.h"
#include "filters/network/network_inputs.h"
#include "filters/training/debayer_training.h"
#include "filters/training/network_permutations.h"
#include "filters/training/structure_map.h"
#include "filters/training/training_options.h"
#include "filters/training/training_positions.h"
#include "filters/training/two_times_training.h"
#include "filters/training/universal_training.h"
#include "kernels/network/network_phases.h"
#include "network_test_nets.h"

namespace astrelon::test {
namespace {

// Records the positions the loop trained.
class TRecordingKind : public TTrainingKind {
public:
  explicit TRecordingKind(TTrainingKind& inner) : inner_(inner) {}
  int PositionSlot() const override { return inner_.PositionSlot(); }
  int ResultSlot() const override { return inner_.ResultSlot(); }
  bool AddBase() const override { return inner_.AddBase(); }
  bool UseBias() const override { return inner_.UseBias(); }
  bool Turnable() const override { return inner_.Turnable(); }
  bool Sample(int32_t x, int32_t y, int rotation, int mirror, std::mt19937& rng) override {
    const bool used = inner_.Sample(x, y, rotation, mirror, rng);
    if (used) Positions.insert({x, y});
    return used;
  }
  void WriteSample() override { inner_.WriteSample(); }
  bool ComputeResult(const std::function<bool(int)>& poll) override { return inner_.ComputeResult(poll); }
  std::string ErrorText() const override { return inner_.ErrorText(); }
  std::set<std::pair<int32_t, int32_t>> Positions;

private:
  TTrainingKind& inner_;
};

class TrainingLoopTest : public NetworkKernelTest {
protected:
  void SetUp() override {
    NetworkKernelTest::SetUp();
    savedOptions_ = TrainingOptions;
    savedControls_ = TrainingControls;
    TrainingOptions = {};
    TrainingControls = {};
    // A goal of structure and its half-size copy (2 x 2 means).
    MakeGrey(2, 48, 40,
             [](int x, int y) { return float(100 + 80 * std::sin(0.4 * x) * std::cos(0.3 * y) + (x > 30 ? 50 : 0)); });
    MakeGrey(1, 24, 20, [](int x, int y) {
      const TImageSlot& g = Store.Image[2];
      return (g.At(1, 2 * x, 2 * y) + g.At(1, 2 * x + 1, 2 * y) + g.At(1, 2 * x, 2 * y + 1) +
              g.At(1, 2 * x + 1, 2 * y + 1)) /
             4;
    });
    MakeResult(2, 3);
  }
  void TearDown() override {
    TrainingOptions = savedOptions_;
    TrainingControls = savedControls_;
    NetworkKernelTest::TearDown();
  }
  static void NewTwoTimesNetwork(int32_t n, int32_t current, uint64_t seed = 1) {
    BuildTanhTable();
    InitNetwork(n, current, 36, seed);
    Network.TypeCode = 3;
    Network.Rate = 0.05;
  }
  static void Steps(int64_t steps) {
    TrainingControls.BaseSteps = steps;
    TrainingControls.PhaseSteps = steps;
  }
  int64_t Run(TTrainingKind& kind, int64_t samples, uint32_t seed = 7) {
    std::mt19937 rng(seed);
    TTrainingView view;
    return RunNetworkTraining(kind, view, rng, {}, {samples, false});
  }
  TTrainingOptions savedOptions_;
  TTrainingControls savedControls_;
};

TEST_F(TrainingLoopTest, UpDownSteps) {
  Network.Rate = 0.05;
  StepTrainingRate(true);
  EXPECT_DOUBLE_EQ(Network.Rate, 0.06);
  EXPECT_EQ(TrainingControls.RateText, "0.06000");
  for (int k = 0; k < 10; ++k) StepTrainingRate(true);
  EXPECT_DOUBLE_EQ(Network.Rate, 0.075);
  for (int k = 0; k < 100; ++k) StepTrainingRate(false);
  EXPECT_DOUBLE_EQ(Network.Rate, 0.0001);
  EXPECT_EQ(TrainingControls.RateText, "0.00010");
  Network.Rate = 0.09;  // a loaded rate above the top stays
  StepTrainingRate(true);
  EXPECT_DOUBLE_EQ(Network.Rate, 0.09);

  TrainingOptions.SwitchThreshold = 0.001;
  StepSwitchThreshold(true);
  EXPECT_DOUBLE_EQ(TrainingOptions.SwitchThreshold, 0.0012);
  for (const double t : TrainingControls.Thresholds) EXPECT_DOUBLE_EQ(t, 0.0012);
  for (int k = 0; k < 40; ++k) StepSwitchThreshold(true);
  EXPECT_DOUBLE_EQ(TrainingOptions.SwitchThreshold, 0.03);
  for (int k = 0; k < 100; ++k) StepSwitchThreshold(false);
  EXPECT_DOUBLE_EQ(TrainingOptions.SwitchThreshold, 0.00001);
  EXPECT_EQ(TrainingNumberText(0.00001), "0.00001");
}

TEST_F(TrainingLoopTest, RateDecayFloorAndHold) {
  const double K = TrainingDecayConstant(false, false);
  EXPECT_EQ(K, 300000.0);
  EXPECT_EQ(TrainingDecayConstant(true, false), 470000.0);
  EXPECT_EQ(TrainingDecayConstant(true, true), 600000.0);
  EXPECT_DOUBLE_EQ(DecayedTrainingRate(0.05, 20000, 36, K, false, 0.001), 0.05 / (20000.0 / (11 * K) + 1.0002));
  double r = 0.05;
  for (int k = 0; k < 100000; ++k) r = DecayedTrainingRate(r, 2000000, 36, K, false, 0.001);
  EXPECT_EQ(r, 1e-6);
  // While growing under automatic switching: not below 1.2 times the threshold.
  r = 0.05;
  for (int k = 0; k < 10000; ++k) {
    r = DecayedTrainingRate(r, 2000000, 36, K, true, 0.001);
    ASSERT_GE(r, 0.0012);
  }
  EXPECT_DOUBLE_EQ(r, 0.0012);
  EXPECT_EQ(DecayedTrainingRate(0.001, 2000000, 36, K, true, 0.001), 0.001);  // already below: stays
}

// Between evaluations only the blocks of trained positions change.
TEST_F(TrainingLoopTest, OnlyTrainedBlocksChange) {
  NewTwoTimesNetwork(20, 15);
  Steps(100000);
  TTwoTimesTraining kind(1, 2, 3);
  ASSERT_EQ(Store.Image[3].Width, 48);
  ASSERT_TRUE(kind.ComputeResult([](int) { return true; }));
  const std::vector<float> before(Store.Image[3].Planes[1].begin(), Store.Image[3].Planes[1].end());
  TRecordingKind recording(kind);
  TrainingOptions.Rotated = TrainingOptions.Mirrored = true;
  EXPECT_EQ(Run(recording, 60), 60);
  ASSERT_FALSE(recording.Positions.empty());
  int changed = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 48; ++x) {
      if (Store.Image[3].At(1, x, y) == before[size_t(y) * 48 + size_t(x)]) continue;
      ++changed;
      EXPECT_TRUE(recording.Positions.count({x / 2, y / 2})) << x << " " << y;
    }
  EXPECT_GT(changed, 0);
}

// Growth every G + 1 evaluations by n / 50 + 1 (G = round(16 / sqrt(n))), and
// the decay at each evaluation.
TEST_F(TrainingLoopTest, GrowthAndDecayAtEvaluations) {
  NewTwoTimesNetwork(20, 15);
  Steps(10);
  TTwoTimesTraining kind(1, 2, 3);
  Run(kind, 10 * 10);  // ten evaluations; G = 4: growth after the fifth and the tenth
  EXPECT_EQ(Network.Current, 17);
  EXPECT_FALSE(TrainingControls.Phase2Enabled);
  double r = 0.05;
  for (int k = 0; k < 10; ++k) r = DecayedTrainingRate(r, 10, 20, 300000, false, 0.001);
  EXPECT_DOUBLE_EQ(Network.Rate, r);
  EXPECT_EQ(TrainingControls.RateText, TrainingNumberText(r));
  NewTwoTimesNetwork(20, 19);
  Run(kind, 10 * 5);
  EXPECT_EQ(Network.Current, 20);
  EXPECT_TRUE(TrainingControls.Phase2Enabled);
}

// With automatic switching a rate falling below the phase's threshold moves
// on: phase 2, phase 3, then the end. A network without a second layer ends
// after phase 2.
TEST_F(TrainingLoopTest, AutomaticSwitchingEndsAfterPhase3) {
  for (const int32_t type : {3, 13}) {
    NewTwoTimesNetwork(20, 20);
    Network.TypeCode = type;
    if (type > 10) std::fill(Network.Bo.begin(), Network.Bo.end(), 0.0f);
    Steps(10);
    TrainingControls.Phase2Enabled = true;
    TrainingOptions.AutoPhase = true;
    TrainingControls.Thresholds = {0.04999, 0.019999, 0.019999};
    TTwoTimesTraining kind(1, 2, 3);
    const int64_t samples = Run(kind, 100000);
    EXPECT_LT(samples, 100000);
    EXPECT_EQ(Network.Phase, type == 3 ? 3 : 2) << type;
    EXPECT_EQ(TrainingControls.PhaseSteps, type == 3 ? 20 : 15) << type;
    AbortRequested = 0;
  }
}

TEST_F(TrainingLoopTest, SameSeedSameNetwork) {
  std::vector<float> first;
  for (int k = 0; k < 2; ++k) {
    NewTwoTimesNetwork(12, 12);
    Steps(40);
    TrainingOptions.Rotated = TrainingOptions.Mirrored = true;
    TTwoTimesTraining kind(1, 2, 3);
    Run(kind, 300, 99);
    if (k == 0)
      first = Network.W1;
    else
      EXPECT_EQ(Network.W1, first);
  }
  EXPECT_GT(first.size(), 0u);
}

// The universal training's target blocks are where the turned inputs put the
// block: network position (1, 0), (0, 1), (1, 1) read back through the input
// permutation.
TEST_F(TrainingLoopTest, UniversalTargetBlocksFollowTheInputTurn) {
  for (int rotation = 0; rotation < 4; ++rotation)
    for (int mirror = 0; mirror < 3; ++mirror) {
      std::array<float, 64> x{};
      for (int i = 0; i < 37; ++i) x[size_t(i)] = float(100 * DiscOffsets[i].Dx + DiscOffsets[i].Dy);
      PermuteNetworkInputs(36, rotation, mirror, x.data());
      const TBlockOffsets& block = TUniversalTraining::TargetBlock(rotation, mirror);
      const int at[4] = {0, 5, 7, 8};  // (0, 0), (1, 0), (0, 1), (1, 1)
      for (int k = 0; k < 4; ++k)
        EXPECT_EQ(x[size_t(at[k])], float(100 * block[size_t(k)].Dx + block[size_t(k)].Dy)) << rotation << mirror << k;
    }
}

// A universal sample: the filter's base and inputs at the pixel, the goal's
// block as targets.
TEST_F(TrainingLoopTest, UniversalSample) {
  MakeGrey(4, 20, 20, [](int x, int y) { return float(3 * x + 5 * y + 10); });
  MakeGrey(5, 20, 20, [](int x, int y) { return float(3 * x + 5 * y + 12); });
  MakeResult(4, 6);
  BuildTanhTable();
  InitNetwork(9, 9, 36, 3);
  Network.TypeCode = 11;
  TUniversalTraining kind(4, 5, 6);
  EXPECT_TRUE(kind.UseBias());
  Network.TypeCode = 1;  // the filter applies no biases for it: none are trained
  EXPECT_FALSE(kind.UseBias());
  EXPECT_TRUE(kind.AddBase());
  Network.TypeCode = 11;
  std::mt19937 rng(1);
  ASSERT_TRUE(kind.Sample(8, 9, 0, 0, rng));
  const TImageSlot& in = Store.Image[4];
  const double mid = (double(in.MaxValue) + in.MinValue) / 2, s = (double(in.MaxValue) - in.MinValue) / 2;
  const double base = 0.1 * mid + 0.225 * (in.At(1, 8, 9) + in.At(1, 9, 9) + in.At(1, 8, 10) + in.At(1, 9, 10));
  EXPECT_FLOAT_EQ(NetworkPass.X[0], float((in.At(1, 8, 9) - base) / s));
  EXPECT_FLOAT_EQ(Network.T[1], float((Store.Image[5].At(1, 9, 9) - base) / s));
  EXPECT_FLOAT_EQ(Network.T[3], float((Store.Image[5].At(1, 9, 10) - base) / s));
  ASSERT_TRUE(kind.Sample(8, 9, 1, 0, rng));  // turned: t1 from (0, -1)
  const double turned = 0.1 * mid + 0.225 * (in.At(1, 8, 9) + in.At(1, 8, 8) + in.At(1, 9, 9) + in.At(1, 9, 8));
  EXPECT_FLOAT_EQ(Network.T[1], float((Store.Image[5].At(1, 8, 8) - turned) / s));
}

// A debayer sample: the window's colours as the debayer reads them (the
// centre red), values relative to their colour's mean; green at the site and
// the site's own colour at its right, lower and lower-right neighbours.
TEST_F(TrainingLoopTest, DebayerSample) {
  const int expected[7][7] = {{3, 2, 3, 2, 3, 2, 3}, {2, 1, 2, 1, 2, 1, 2}, {3, 2, 3, 2, 3, 2, 3},
                              {2, 1, 2, 1, 2, 1, 2}, {3, 2, 3, 2, 3, 2, 3}, {2, 1, 2, 1, 2, 1, 2},
                              {3, 2, 3, 2, 3, 2, 3}};
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) EXPECT_EQ(TDebayerTraining::CellPlane(dx, dy), expected[dy + 3][dx + 3]);
  // Planes of constant colour but for the pixels the targets read.
  MakeImage(4, 16, 16, 3, [](int p, int, int) { return float(100 * p); });
  Store.Image[4].At(1, 8, 7) = 130;  // red right of the site (7, 7)
  Store.Image[4].At(3, 8, 7) = 390;  // blue there
  Store.Image[4].At(2, 7, 7) = 230;
  UpdateMinMax(4);
  MakeResult(4, 5);
  TDebayerTraining kind(4, 5, {});
  const double s = (double(Store.Image[4].MaxValue) - Store.Image[4].MinValue) / 2;
  std::mt19937 rng(4);
  std::set<int> own;
  for (int k = 0; k < 20; ++k) {
    ASSERT_TRUE(kind.Sample(7, 7, 0, 0, rng));
    EXPECT_FLOAT_EQ(Network.T[0], float(30 / s));
    // Red at the site: red to the right; blue at the site (exchanged): blue.
    const bool red = std::abs(Network.T[1] - float(30 / s)) < 1e-6f;
    const bool blue = std::abs(Network.T[1] - float(90 / s)) < 1e-6f;
    EXPECT_TRUE(red || blue);
    own.insert(red ? 1 : 3);
    EXPECT_FLOAT_EQ(Network.T[3], 0.0f);
  }
  EXPECT_EQ(own.size(), 2u);  // both ways occur
}

// The structure byte: 40 + round(215 m / range), m the largest deviation from
// the centre in the 7 x 7 window (blank pixels left out), over the planes.
TEST_F(TrainingLoopTest, StructureMapByBruteForce) {
  std::mt19937 rng(6);
  std::uniform_real_distribution<float> u(0.0f, 255.0f);
  MakeImage(4, 19, 15, 3, [&](int, int, int) { return u(rng); });
  Store.Image[4].At(2, 9, 7) = BlankPixel;
  Store.Image[4].At(1, 4, 4) = BlankPixel;
  UpdateMinMax(4);
  const TImageSlot& im = Store.Image[4];
  const TStructureMap map = BuildStructureMap(4);
  ASSERT_EQ(map.Width, 19);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 19; ++x) {
      if (x < 3 || y < 3 || x > 15 || y > 11) {
        EXPECT_EQ(map.At(x, y), 0);
        continue;
      }
      double m = 0;
      for (int p = 1; p <= 3; ++p) {
        const float c = im.At(p, x, y);
        if (!IsValidPixel(c)) continue;
        for (int dy = -3; dy <= 3; ++dy)
          for (int dx = -3; dx <= 3; ++dx)
            if (IsValidPixel(im.At(p, x + dx, y + dy))) m = std::max(m, std::abs(double(im.At(p, x + dx, y + dy)) - c));
      }
      EXPECT_EQ(map.At(x, y), int(std::nearbyint(215 * m / (double(im.MaxValue) - im.MinValue))) + 40) << x << " " << y;
    }
  MakeGrey(5, 10, 10, [](int, int) { return 3.0f; });
  EXPECT_TRUE(BuildStructureMap(5).Bytes.empty());  // flat
}

// Positions keep their window inside the rectangles; two rectangles share the
// draws by their areas; flat structure (40 everywhere) uses every fourth draw.
TEST_F(TrainingLoopTest, PositionsInsideTheSelections) {
  TStructureMap flat;
  flat.Width = 100;
  flat.Height = 80;
  flat.Bytes.assign(100 * 80, 40);
  TTrainingPositions positions(flat, {{0, 0, 39, 39}, {60, 50, 99, 79}});
  std::mt19937 rng(3);
  int first = 0, second = 0;
  for (int k = 0; k < 4000; ++k) {
    int32_t x = 0, y = 0;
    ASSERT_TRUE(positions.Next(rng, x, y));
    const bool a = x >= 3 && x <= 39 && y >= 3 && y <= 39;
    const bool b = x >= 60 && x <= 96 && y >= 50 && y <= 76;
    ASSERT_TRUE(a || b) << x << " " << y;
    (a ? first : second) += 1;
  }
  // Areas 37 x 37 and 37 x 27 (inside the frame where a window fits).
  EXPECT_NEAR(double(first) / (first + second), 37.0 / 64, 0.03);
  TTrainingPositions none(flat, {{0, 0, 2, 2}});  // no pixel whose window fits in the image
  int32_t x = 0, y = 0;
  std::mt19937 g(1);
  EXPECT_FALSE(none.Next(g, x, y));
}

}  // namespace
}  // namespace astrelon::test
