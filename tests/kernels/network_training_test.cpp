// The training step against plain loops written from the rules (every type,
// phase and path alike to the bit), the table update window and its limits,
// the reduced rate of 3-input networks, learning a simple mapping, the new
// network and the phase switches with their saved rates and biases.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/network/network_forward.h"
#include "kernels/network/network_phases.h"
#include "kernels/network/network_training.h"
#include "random_network.h"
#include "store/image_store.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr TNetworkPath Paths[] = {TNetworkPath::Plain, TNetworkPath::Sse, TNetworkPath::Avx2};

float Clamp1(float v) { return v < -1.0f ? -1.0f : (v > 1.0f ? 1.0f : v); }

void Bias(float& b, double r, double share, double s) {
  const double f = 1.0 - double(b) * b;
  if (f > 0) b = float(b + r * share * f * s);
}

// One step written from the rules with plain loops over the neurons.
void ReferenceTrainStep(TNetworkWeights& net, const TNetworkPass& p, int32_t N, int32_t n, bool useBias) {
  const int32_t phase = net.Phase, top2 = net.Layer2Top;
  const bool two = net.TypeCode <= 10, bias = useBias && phase == 1;
  const double r = N < 5 && phase > 1 ? net.Rate * 0.2 : net.Rate;
  std::array<float, 4> e{};
  std::array<float, 21> d2{};
  std::vector<float> d1(size_t(n) + 1, 0.0f);
  for (int o = 0; o < 4; ++o) {
    e[size_t(o)] = (net.T[size_t(o)] - p.Y[size_t(o)]) * 0.5f;
    if (bias) Bias(net.Bo[size_t(o)], r, 0.02, double(net.T[size_t(o)]) - double(p.Y[size_t(o)]));
  }
  if (two)
    for (int k = 0; k <= top2; ++k) {
      float s = 0;
      for (int o = 0; o < 4; ++o) s += e[size_t(o)] * net.Wout[size_t(k * 4 + o)];
      s = std::clamp(s, -10.0f, 10.0f);
      const float f = 1.0f - p.H2[size_t(k)] * p.H2[size_t(k)];
      d2[size_t(k)] = phase == 1 ? (f < 0 ? 0.0f : s * f) : 0.3f * s;
      if (bias) Bias(net.B2[size_t(k)], r, 0.01, s);
    }
  if (phase <= 2)
    for (int j = 0; j <= n; ++j) {
      float s = 0;
      if (two)
        for (int k = 0; k <= top2; ++k) s += d2[size_t(k)] * net.W2At(j, k);
      else
        for (int o = 0; o < 4; ++o) s += e[size_t(o)] * net.W2At(j, o);
      s = std::clamp(s, -10.0f, 10.0f);
      const float f = 1.0f - p.H1[size_t(j)] * p.H1[size_t(j)];
      d1[size_t(j)] = phase == 1 ? (f > 0 ? s * f : 0.0f) : s * (two ? 0.3f : 0.15f);
      if (bias) Bias(net.B1[size_t(j)], r, 0.005, s);
    }
  if (phase == 1) {
    if (two) {
      for (int k = 0; k <= top2; ++k)
        for (int o = 0; o < 4; ++o)
          net.Wout[size_t(k * 4 + o)] += Clamp1(float(r * e[size_t(o)]) * p.H2[size_t(k)]);
      for (int j = 0; j <= n; ++j)
        for (int k = 0; k <= top2; ++k) net.W2At(j, k) += Clamp1(float(r * d2[size_t(k)]) * p.H1[size_t(j)]);
    } else {
      for (int j = 0; j <= n; ++j)
        for (int o = 0; o < 4; ++o) net.W2At(j, o) += Clamp1(float(r * e[size_t(o)]) * p.H1[size_t(j)]);
    }
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= N; ++i) net.W1At(j, i) += Clamp1(float(r * d1[size_t(j)]) * p.X[size_t(i)]);
  }
  auto table = [&](float* t, int32_t kept, float d) {
    if (kept <= -1991 || kept >= 1991) return;
    for (int u = -net.UpdateHalfWidth; u <= net.UpdateHalfWidth; ++u)
      t[2000 + kept + u] += float(double(d) * r) * net.UpdateWindow[size_t(10 + u)];
  };
  if (phase == 2)
    for (int j = 0; j <= n; ++j) table(net.Table1(j), p.Kept1[size_t(j)], d1[size_t(j)]);
  if (phase == 3 && two)
    for (int k = 0; k <= top2; ++k) table(net.Table2(k), p.Kept2[size_t(k)], d2[size_t(k)]);
}

// Everything a step may change.
bool SameNetwork(const TNetworkWeights& a, const TNetworkWeights& b) {
  auto same = [](const auto& x, const auto& y) {
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0;
  };
  return same(a.W1, b.W1) && same(a.W2, b.W2) && same(a.Wout, b.Wout) && same(a.B1, b.B1) && same(a.B2, b.B2) &&
         same(a.Bo, b.Bo) && same(a.Tables1, b.Tables1) && same(a.Tables2, b.Tables2) && a.Rate == b.Rate;
}

class NetworkTrainingTest : public ::testing::Test {
protected:
  void SetUp() override {
    BuildTanhTable();
    TrainingControls = TTrainingControls{};
    AbortRequested = 0;
  }
  void TearDown() override {
    Network = TNetworkWeights{};
    TrainingControls = TTrainingControls{};
    AbortRequested = 0;
  }
};

TEST_F(NetworkTrainingTest, UpdateWindow) {
  BuildTableUpdateWindow(0);
  EXPECT_EQ(Network.UpdateHalfWidth, 0);
  for (int u = -10; u <= 10; ++u) EXPECT_EQ(Network.UpdateWindow[size_t(10 + u)], u == 0 ? 1.0f : 0.0f);
  BuildTableUpdateWindow(10);
  EXPECT_EQ(Network.UpdateHalfWidth, 10);
  for (int u = -10; u <= 10; ++u)
    EXPECT_NEAR(Network.UpdateWindow[size_t(10 + u)], std::exp(-std::pow(u / (10 / 1.732), 2)) / std::sqrt(10.0), 1e-7);
  BuildTableUpdateWindow(3);
  EXPECT_EQ(Network.UpdateWindow[size_t(10 + 4)], 0.0f);
  EXPECT_NEAR(Network.UpdateWindow[size_t(10 + 3)], std::exp(-std::pow(3 / (3 / 1.2196), 2)) / std::sqrt(3.0), 1e-7);
  BuildTableUpdateWindow(25);
  EXPECT_EQ(Network.UpdateHalfWidth, 10);
  BuildTableUpdateWindow(-4);
  EXPECT_EQ(Network.UpdateHalfWidth, 0);
}

TEST_F(NetworkTrainingTest, StepsOfEveryTypePhaseAndPathFollowTheRules) {
  struct TCase {
    int32_t type, n, top, phase, N;
    bool useBias;
  };
  const TCase cases[] = {
      {3, 36, 36, 1, 36, true},   {3, 36, 20, 1, 36, false}, {4, 40, 40, 1, 60, true},  {2, 36, 36, 2, 36, true},
      {3, 36, 36, 3, 36, true},   {7, 12, 12, 1, 2, true},   {7, 12, 12, 2, 2, true},   {7, 12, 12, 3, 2, true},
      {13, 60, 60, 1, 36, true},  {13, 60, 45, 2, 36, true}, {14, 200, 200, 1, 60, true}, {17, 10, 10, 2, 2, true},
      {6, 20, 20, 1, 40, false},
  };
  for (const TCase& c : cases) {
    MakeRandomNetwork(c.type, c.n, c.top, c.phase, uint64_t(c.type * 10 + c.phase), 1.0);
    BuildTableUpdateWindow(7);
    const TNetworkWeights start = Network;
    for (const TNetworkPath path : Paths) {
      Network = start;
      TNetworkWeights reference = start;
      std::mt19937 samples(uint32_t(c.type));
      for (int step = 0; step < 25; ++step) {
        NetworkPass.X = RandomInputs(samples, c.N, 1.2f);
        ForwardNetwork(Network, NetworkPass, c.N, c.top, c.type < 3, c.useBias, path);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (float& t : Network.T) t = u(samples);
        reference.T = Network.T;
        ReferenceTrainStep(reference, NetworkPass, c.N, c.top, c.useBias);
        TrainStep(c.N, c.top, c.useBias, path);
        ASSERT_TRUE(SameNetwork(Network, reference))
            << "type " << c.type << " phase " << c.phase << " path " << int(path) << " step " << step;
      }
      EXPECT_FALSE(SameNetwork(Network, start)) << c.type << " " << c.phase;
      EXPECT_EQ(Network.Rate, start.Rate);
    }
  }
}

TEST_F(NetworkTrainingTest, ThreeInputNetworksLearnTheirTablesWithAFifthOfTheRate) {
  for (const int32_t inputs : {2, 36}) {
    MakeRandomNetwork(inputs == 2 ? 7 : 3, 12, 12, 2, 3);
    BuildTableUpdateWindow(0);
    Network.Rate = 0.04;
    NetworkPass.X = {};
    NetworkPass.X[0] = 0.3f;
    ForwardNetwork(Network, NetworkPass, inputs, 12, false, true);
    Network.T = {0.9f, -0.4f, 0.2f, 0.7f};
    const int32_t p = NetworkPass.Kept1[0];
    ASSERT_GT(p, -1991);
    ASSERT_LT(p, 1991);
    const float before = Network.Table1(0)[2000 + p];
    TrainStep(inputs, 12, true);
    const double r = inputs == 2 ? 0.04 * 0.2 : 0.04;
    EXPECT_EQ(Network.Table1(0)[2000 + p], before + float(double(Network.D1[0]) * r) * 1.0f) << inputs;
    EXPECT_NE(Network.D1[0], 0.0f);
    EXPECT_EQ(Network.Rate, 0.04);
  }
}

TEST_F(NetworkTrainingTest, TablesNearTheirEndsOrLeftByTheSumStay) {
  MakeRandomNetwork(3, 12, 12, 2, 6);
  BuildTableUpdateWindow(10);
  NetworkPass.X = {};
  ForwardNetwork(Network, NetworkPass, 36, 12, true, false);
  Network.T = {1, 1, 1, 1};
  // Kept indices: outside the tables, at the last allowed index each side,
  // one further, and in the middle.
  const int32_t kept[] = {3000, 1991, -1991, 1990, -1990, 0};
  for (size_t j = 0; j < 6; ++j) NetworkPass.Kept1[j] = kept[j];
  const std::vector<float> before = Network.Tables1;
  TrainStep(36, 12, false);
  for (size_t j = 0; j < 6; ++j) {
    const bool changed = !std::equal(before.begin() + long(j * 4001), before.begin() + long((j + 1) * 4001),
                                     Network.Tables1.begin() + long(j * 4001));
    EXPECT_EQ(changed, kept[j] > -1991 && kept[j] < 1991) << kept[j];
  }
  EXPECT_NE(Network.Table1(3)[4000], before[3 * 4001 + 4000]);  // 1990 + 10 reaches the last entry
  EXPECT_EQ(Network.Table1(3)[4000 - 21], before[3 * 4001 + 4000 - 21]);
}

TEST_F(NetworkTrainingTest, SimpleStepOfTheTwentyOneInputNetwork) {
  for (const TNetworkPath path : Paths) {
    MakeRandomNetwork(13, 30, 30, 1, 8);
    Network.Rate = 0.05;
    std::mt19937 rng(4);
    for (int step = 0; step < 10; ++step) {
      NetworkPass.X = RandomInputs(rng, 20, 1.0f);
      ForwardNetwork21(Network, NetworkPass, 30, path);
      Network.T = {0.3f, -0.2f, 0.5f, 0.1f};
      TNetworkWeights want = Network;
      const TNetworkPass& p = NetworkPass;
      std::array<float, 4> e{};
      for (size_t o = 0; o < 4; ++o) e[o] = (Network.T[o] - p.Y[o]) * 0.5f;
      for (int j = 0; j <= 30; ++j) {
        float s = 0;
        for (int o = 0; o < 4; ++o) s += e[size_t(o)] * Network.W2At(j, o);
        const float f = 1.0f - p.H1[size_t(j)] * p.H1[size_t(j)];
        const float d1 = f > 0 ? s * f : 0.0f;
        for (int o = 0; o < 4; ++o) want.W2At(j, o) = Clamp1(want.W2At(j, o) + float(0.05 * e[size_t(o)]) * p.H1[size_t(j)]);
        for (int i = 0; i <= 20; ++i) want.W1At(j, i) += Clamp1(float(0.05 * d1) * p.X[size_t(i)]);
      }
      TrainStepSimple(30, path);
      ASSERT_TRUE(SameNetwork(Network, want)) << int(path) << " " << step;
    }
  }
}

// A network learns a smooth mapping: the mean squared error of a fixed test
// set falls to well below its start.
TEST_F(NetworkTrainingTest, TrainingLowersTheError) {
  for (const int32_t type : {3, 13}) {
    MakeRandomNetwork(type, 20, 20, 1, 12, 0.5);
    Network.Rate = 0.05;
    const bool bias = type > 10;
    auto target = [](const std::array<float, 64>& x, size_t o) {
      return float(0.5 * std::tanh(x[1] - x[2] + 0.5 * x[o + 3]));
    };
    std::mt19937 rng(2);
    std::vector<std::array<float, 64>> test(200);
    for (auto& x : test) x = RandomInputs(rng, 36, 1.0f);
    auto error = [&] {
      double sum = 0;
      for (const auto& x : test) {
        NetworkPass.X = x;
        ForwardNetwork(36, 20, false, bias);
        for (size_t o = 0; o < 4; ++o) sum += std::pow(NetworkPass.Y[o] - target(x, o), 2);
      }
      return sum / 800;
    };
    const double start = error();
    for (int step = 0; step < 6000; ++step) {
      NetworkPass.X = RandomInputs(rng, 36, 1.0f);
      ForwardNetwork(36, 20, false, bias);
      for (size_t o = 0; o < 4; ++o) Network.T[o] = target(NetworkPass.X, o);
      TrainStep(36, 20, bias);
    }
    EXPECT_LT(error(), start * 0.1) << type;
  }
}

TEST_F(NetworkTrainingTest, NewNetwork) {
  Settings.NetworkSetting = 0.5;
  Network.TypeCode = 13;
  Network.Rate = 0.03;
  InitNetwork(40, 15, 60, 77);
  const TNetworkWeights a = Network;
  EXPECT_EQ(a.Top, 40);
  EXPECT_EQ(a.Current, 15);
  EXPECT_EQ(a.InputTop, 60);
  EXPECT_EQ(a.RowWidth, 61);
  EXPECT_EQ(a.Stride, 48);
  EXPECT_EQ(a.TypeCode, 13);
  EXPECT_EQ(a.Rate, 0.03);
  EXPECT_EQ(a.Phase, 1);
  EXPECT_EQ(a.Layer2Top, 20);
  EXPECT_EQ(a.Phase1Rate, 0.05);
  EXPECT_EQ(a.Phase23Rate, 0.02);
  EXPECT_EQ(a.Carried, 100000.0);
  float lo = 1, hi = -1;
  double sum = 0;
  for (int32_t j = 0; j < a.Stride; ++j)
    for (int32_t i = 0; i < 61; ++i) {
      const float w = a.W1At(j, i);
      if (j > 40) {
        ASSERT_EQ(w, 0.0f);  // the block's unused neurons
        continue;
      }
      lo = std::min(lo, w);
      hi = std::max(hi, w);
      sum += w;
    }
  for (const float w : a.Wout) {
    lo = std::min(lo, w);
    hi = std::max(hi, w);
  }
  EXPECT_GE(lo, -0.25f);
  EXPECT_LT(hi, 0.25f);
  EXPECT_LT(lo, -0.24f);
  EXPECT_GT(hi, 0.24f);
  EXPECT_NEAR(sum / (41 * 61), 0.0, 0.02);
  for (int32_t j = 0; j <= 40; ++j)
    for (int32_t k = 0; k < 24; ++k) ASSERT_EQ(a.W2At(j, k) == 0.0f, k >= 21) << j << " " << k;
  for (const float b : a.B1) EXPECT_EQ(b, 0.0f);
  EXPECT_EQ(a.Phase1Biases.B1, a.B1);
  EXPECT_EQ(a.Tables1[2000 + 700], TanhTable[700]);
  EXPECT_EQ(a.Tables1[2000 - 700], -TanhTable[700]);
  // The same seed makes the same network, another seed another one.
  InitNetwork(40, 15, 60, 77);
  EXPECT_EQ(Network.W1, a.W1);
  EXPECT_EQ(Network.Wout, a.Wout);
  InitNetwork(40, 15, 60, 78);
  EXPECT_NE(Network.W1, a.W1);
  InitNetwork(9, 15, 36);  // the clock's seed; current no more than n
  EXPECT_EQ(Network.Current, 9);
  EXPECT_EQ(Network.RowWidth, 37);
  EXPECT_THROW(InitNetwork(1001, 15, 36, 1), std::invalid_argument);
  Settings.NetworkSetting = 1.0;
}

TEST_F(NetworkTrainingTest, PhaseSwitchesSaveAndRestoreRatesAndBiases) {
  MakeRandomNetwork(3, 12, 12, 1, 5);
  TTrainingControls& c = TrainingControls;
  c.BaseSteps = 30000;
  Network.Rate = 0.045;
  // Not yet grown: only the phase-1 threshold follows the rate.
  SwitchToPhase2();
  EXPECT_EQ(Network.Phase, 1);
  EXPECT_DOUBLE_EQ(c.Thresholds[0], 0.045 / 1.5);
  EXPECT_EQ(Network.Rate, 0.045);

  c.Phase2Enabled = true;
  Network.Table1(4)[2100] = 5.0f;
  Network.Table2(1)[2100] = 5.0f;
  const TNetworkBiases phase1 = [] {
    TNetworkBiases b;
    Network.SaveBiases(b);
    return b;
  }();
  SwitchToPhase2();
  EXPECT_EQ(Network.Phase, 2);
  EXPECT_EQ(Network.Phase1Rate, 0.045);
  EXPECT_EQ(Network.Rate, 0.02);
  EXPECT_EQ(c.RateText, "0.02000");
  EXPECT_EQ(c.PhaseSteps, 45000);
  EXPECT_EQ(c.PressedPhase, 2);
  EXPECT_EQ(Network.UpdateHalfWidth, 10);
  EXPECT_EQ(Network.Table1(4)[2100], TanhTable[100]);  // both table sets fresh
  EXPECT_EQ(Network.Table2(1)[2100], TanhTable[100]);
  EXPECT_EQ(Network.Phase1Biases.B1, phase1.B1);
  SwitchToPhase2();  // already there
  EXPECT_EQ(Network.Phase, 2);

  // Phase 2 -> 3: the phase-2/3 rate and the phase-2 biases are kept.
  Network.Rate = 0.015;
  Network.B1[0] = 0.125f;
  Network.Bo[2] = -0.25f;
  Network.Table2(1)[2100] = 7.0f;
  Network.Table1(4)[2100] = 7.0f;
  SwitchToPhase3();
  EXPECT_EQ(Network.Phase, 3);
  EXPECT_EQ(Network.Phase23Rate, 0.015);
  EXPECT_EQ(Network.Rate, 0.02);
  EXPECT_EQ(c.PhaseSteps, 60000);
  EXPECT_EQ(c.PressedPhase, 3);
  EXPECT_EQ(Network.Phase2Biases.B1[0], 0.125f);
  EXPECT_EQ(Network.Phase2Biases.Bo[2], -0.25f);
  EXPECT_EQ(Network.Table1(4)[2100], 7.0f);  // tables carry over
  EXPECT_EQ(Network.Table2(1)[2100], 7.0f);
  SwitchToPhase3();
  EXPECT_EQ(Network.Phase, 3);
  EXPECT_EQ(Network.Rate, 0.02);

  // Phase 3 -> 2: the phase-2/3 rate and biases come back, layer 2 starts anew.
  Network.Rate = 0.001;
  Network.B1[0] = 0.5f;
  SwitchToPhase2();
  EXPECT_EQ(Network.Phase, 2);
  EXPECT_EQ(Network.Rate, 0.015);
  EXPECT_EQ(c.RateText, "0.01500");
  EXPECT_EQ(Network.B1[0], 0.125f);
  EXPECT_EQ(Network.Bo[2], -0.25f);
  EXPECT_EQ(Network.Table2(1)[2100], TanhTable[100]);
  EXPECT_EQ(Network.Table1(4)[2100], 7.0f);
  EXPECT_EQ(AbortRequested.load(), 0);

  // Phase 1 -> 3 directly resets both table sets and saves the phase-1 state.
  MakeRandomNetwork(3, 12, 12, 1, 6);
  Network.Rate = 0.03;
  Network.Table1(0)[2000] = 3.0f;
  SwitchToPhase3();
  EXPECT_EQ(Network.Phase, 3);
  EXPECT_EQ(Network.Phase1Rate, 0.03);
  EXPECT_EQ(Network.Phase1Biases.B1, Network.B1);
  EXPECT_EQ(Network.Phase2Biases.B1, Network.B1);
  EXPECT_EQ(Network.Table1(0)[2000], 0.0f);

  // A network without a second layer has no phase 3: training stops.
  MakeRandomNetwork(13, 12, 12, 2, 7);
  SwitchToPhase3();
  EXPECT_EQ(Network.Phase, 2);
  EXPECT_EQ(AbortRequested.load(), 1);
}

}  // namespace
}  // namespace astrelon::test
