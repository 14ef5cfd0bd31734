// The forward passes: the activation at and beyond +-2, the bilinear base of
// an empty network, every type and phase on every path against the plain
// reference loops bit for bit, the same outputs on any number of threads, and
// the centred 21-input pass.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "kernels/network/network_forward.h"
#include "platform/parallel_bands.h"
#include "random_network.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

constexpr TNetworkPath Paths[] = {TNetworkPath::Plain, TNetworkPath::Sse, TNetworkPath::Avx2};

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class NetworkForwardTest : public ::testing::Test {
protected:
  void SetUp() override { BuildTanhTable(); }
  void TearDown() override { Network = TNetworkWeights{}; }
};

TEST_F(NetworkForwardTest, ActivationAtAndBeyondTwo) {
  EXPECT_EQ(NetworkActivation(2.0f), TanhTable[2000]);
  // tanh(2) and the line at 2 agree to 1e-8; just above 2 the line takes over.
  EXPECT_NEAR(std::tanh(2.0), 0.07 * 2 + 0.8240275836, 1e-8);
  const float above = std::nextafter(2.0f, 3.0f);
  EXPECT_NEAR(NetworkActivation(above), 0.07 * double(above) + 0.8240275836, 1e-7);
  EXPECT_NEAR(NetworkActivation(above), NetworkActivation(2.0f), 1e-7);
  EXPECT_NEAR(NetworkActivation(2.5f), 0.9990275836, 1e-7);
  EXPECT_NEAR(NetworkActivation(-3.0f), -1.0340275836, 1e-7);
  EXPECT_EQ(NetworkActivation(-0.5f), -TanhTable[500]);
  EXPECT_EQ(NetworkActivation(-2.0f), -TanhTable[2000]);
  EXPECT_TRUE(std::isnan(NetworkActivation(std::numeric_limits<float>::quiet_NaN())));
}

TEST_F(NetworkForwardTest, ZeroNetworkGivesTheBilinearBlock) {
  MakeRandomNetwork(3, 36, 36, 1, 1);
  std::fill(Network.W1.begin(), Network.W1.end(), 0.0f);
  std::fill(Network.W2.begin(), Network.W2.end(), 0.0f);
  std::fill(Network.Wout.begin(), Network.Wout.end(), 0.0f);
  std::fill(Network.B1.begin(), Network.B1.end(), 0.0f);
  Network.B2.fill(0.0f);
  Network.Bo.fill(0.0f);
  TNetworkPass pass;
  const float x[9] = {16, -32, 48, 80, 112, -16, 160, 32, 64};
  for (int i = 0; i < 9; ++i) pass.X[size_t(i)] = x[i];
  for (const TNetworkPath path : Paths) {
    ForwardNetwork(Network, pass, 36, 36, true, true, path);
    EXPECT_EQ(pass.Y[0], 9.0f / 16 * x[0] + x[1] / 16 + 3.0f / 16 * (x[2] + x[4]));
    EXPECT_EQ(pass.Y[1], 9.0f / 16 * x[0] + x[3] / 16 + 3.0f / 16 * (x[2] + x[5]));
    EXPECT_EQ(pass.Y[2], 9.0f / 16 * x[0] + x[6] / 16 + 3.0f / 16 * (x[4] + x[7]));
    EXPECT_EQ(pass.Y[3], 9.0f / 16 * x[0] + x[8] / 16 + 3.0f / 16 * (x[7] + x[5]));
    ForwardNetwork(Network, pass, 36, 36, false, true, path);
    for (const float y : pass.Y) EXPECT_EQ(y, 0.0f);
  }
}

TEST_F(NetworkForwardTest, EveryTypeAndPhaseOnEveryPathGivesTheReferenceSums) {
  struct TCase {
    int32_t type, n, top, phase, inputTop;
    bool addBase, useBias;
  };
  const TCase cases[] = {
      {1, 36, 36, 1, 36, false, true},   {2, 36, 36, 3, 36, false, true},  {3, 40, 25, 1, 36, true, false},
      {3, 40, 40, 3, 36, true, true},    {3, 30, 30, 1, 20, false, false}, {4, 60, 60, 1, 60, true, false},
      {4, 9, 9, 3, 60, true, true},      {6, 37, 37, 3, 40, false, true},  {7, 12, 12, 1, 2, false, true},
      {7, 12, 12, 3, 2, false, true},    {11, 36, 36, 2, 36, true, true},  {13, 200, 150, 1, 36, true, true},
      {14, 200, 200, 2, 60, true, true}, {16, 17, 17, 1, 40, false, true}, {17, 9, 9, 2, 2, false, true},
  };
  std::mt19937 rng(5);
  for (const TCase& c : cases) {
    MakeRandomNetwork(c.type, c.n, c.top, c.phase, uint64_t(c.type * 100 + c.phase), 2.0);
    for (int sample = 0; sample < 20; ++sample) {
      TNetworkPass pass;
      pass.X = RandomInputs(rng, c.inputTop, 1.5f);
      const TReferencePass want = ReferenceForward(Network, pass.X, c.inputTop, c.top, c.addBase, c.useBias);
      for (const TNetworkPath path : Paths) {
        ForwardNetwork(Network, pass, c.inputTop, c.top, c.addBase, c.useBias, path);
        for (size_t o = 0; o < 4; ++o)
          ASSERT_TRUE(SameBits(pass.Y[o], want.Y[o]))
              << "type " << c.type << " phase " << c.phase << " path " << int(path) << " output " << o << ": "
              << pass.Y[o] << " " << want.Y[o];
        if (c.phase < 2) continue;
        // Each neuron keeps the table index it used, 3000 outside -2..2.
        for (int32_t j = 0; j <= c.top; ++j) {
          float s = 0;
          for (int32_t i = 0; i <= c.inputTop; ++i) s += Network.W1At(j, i) * pass.X[size_t(i)];
          const int32_t kept = std::abs(s) > 2.0f ? 3000 : int32_t(std::lrint(1000.0f * s));
          ASSERT_EQ(pass.Kept1[size_t(j)], kept) << c.type << " neuron " << j;
        }
      }
    }
  }
}

TEST_F(NetworkForwardTest, ANaNSumStaysOutOfTheTables) {
  MakeRandomNetwork(3, 20, 20, 3, 9);
  TNetworkPass pass;
  pass.X[3] = std::numeric_limits<float>::quiet_NaN();
  for (const TNetworkPath path : Paths) {
    ForwardNetwork(Network, pass, 36, 20, true, true, path);
    for (const float y : pass.Y) EXPECT_TRUE(std::isnan(y));
    for (int32_t j = 0; j <= 20; ++j) EXPECT_EQ(pass.Kept1[size_t(j)], 3000);
  }
}

TEST_F(NetworkForwardTest, OutputsDoNotDependOnTheThreadCount) {
  MakeRandomNetwork(13, 120, 120, 2, 4);
  constexpr int Count = 500;
  std::mt19937 rng(8);
  std::vector<std::array<float, 64>> inputs(Count);
  for (auto& x : inputs) x = RandomInputs(rng, 36, 1.0f);
  auto run = [&](int threads) {
    std::vector<std::array<float, 4>> out(Count);
    ForEachBand(Count, threads, [&](int64_t first, int64_t last) {
      TNetworkPass pass;
      for (int64_t i = first; i < last; ++i) {
        pass.X = inputs[size_t(i)];
        ForwardNetwork(Network, pass, 36, 120, true, true, TNetworkPath::Avx2);
        out[size_t(i)] = pass.Y;
      }
    });
    return out;
  };
  const auto one = run(1);
  for (const int threads : {3, 8}) {
    const auto many = run(threads);
    for (int i = 0; i < Count; ++i)
      for (size_t o = 0; o < 4; ++o) ASSERT_TRUE(SameBits(many[size_t(i)][o], one[size_t(i)][o])) << threads;
  }
}

TEST_F(NetworkForwardTest, TwentyOneInputPassIncludesTheCentre) {
  // Without weights the outputs are the bilinear block of the uncentred inputs.
  MakeRandomNetwork(13, 20, 20, 1, 2);
  const std::vector<float> weights = Network.W1;
  std::fill(Network.W1.begin(), Network.W1.end(), 0.0f);
  TNetworkPass pass;
  for (int i = 0; i <= 20; ++i) pass.X[size_t(i)] = float(16 * ((i * 7) % 11));
  const std::array<float, 64> x = pass.X;
  const float c = x[10];
  ForwardNetwork21(Network, pass, 20, TNetworkPath::Plain);
  EXPECT_EQ(pass.Y[0], 9.0f / 16 * c + x[4] / 16 + 3.0f / 16 * (x[5] + x[9]));
  EXPECT_EQ(pass.Y[1], 9.0f / 16 * c + x[6] / 16 + 3.0f / 16 * (x[5] + x[11]));
  EXPECT_EQ(pass.Y[2], 9.0f / 16 * c + x[14] / 16 + 3.0f / 16 * (x[9] + x[15]));
  EXPECT_EQ(pass.Y[3], 9.0f / 16 * c + x[16] / 16 + 3.0f / 16 * (x[15] + x[11]));
  for (int i = 0; i <= 20; ++i) EXPECT_EQ(pass.X[size_t(i)], x[size_t(i)] - c);  // the inputs stay centred

  // With weights: layer 1 on the centred inputs through the shared table, no
  // biases, even in phase 3; every path alike.
  Network.W1 = weights;
  Network.Phase = 3;
  std::mt19937 rng(3);
  for (int sample = 0; sample < 10; ++sample) {
    std::array<float, 64> in = RandomInputs(rng, 20, 2.0f);
    std::array<float, 64> centred = in;
    for (int i = 0; i <= 20; ++i) centred[size_t(i)] -= in[10];
    TNetworkWeights plain = Network;
    plain.Phase = 1;
    const std::array<float, 4> lin = ReferenceForward(plain, centred, 36, 20, false, false).Y;
    const float m = (lin[0] + lin[1] + lin[2] + lin[3]) / 4.5f - in[10];
    for (const TNetworkPath path : Paths) {
      pass.X = in;
      ForwardNetwork21(Network, pass, 20, path);
      EXPECT_TRUE(SameBits(pass.Y[0], lin[0] + (-m + centred[4] / 16 + 3.0f / 16 * (centred[5] + centred[9]))));
      EXPECT_TRUE(SameBits(pass.Y[3], lin[3] + (-m + centred[16] / 16 + 3.0f / 16 * (centred[15] + centred[11]))));
    }
  }
}

}  // namespace
}  // namespace astrelon::test
