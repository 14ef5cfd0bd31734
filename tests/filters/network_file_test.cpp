// The network weight file reader and the forward pass: the header forms, the
// optional biases and tables found by the remaining size, refused files that
// leave the loaded network as it was, and the activation and outputs of a
// small network.
#include <cmath>
#include <limits>
#include <random>

#include "common/engine_ui.h"
#include "filters/network_file.h"
#include "filters/network_weights.h"
#include "filters/neural_tables.h"
#include "network_file_bytes.h"
#include "test_support.h"

namespace astrelon::test {
namespace {

class NetworkFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    BuildTanhTable();
    EngineUi().Messages.clear();
  }
  bool Load(const TNetworkFileBytes& f) {
    WriteAll(path_, f.Bytes);
    return LoadNetworkFile(path_, n_, current_, top_);
  }
  // Each file is refused with the message naming it; the network keeps `w1`.
  void ExpectRefused(const std::vector<TNetworkFileBytes>& bad, const std::vector<float>& w1) {
    for (size_t i = 0; i < bad.size(); ++i) {
      EngineUi().Messages.clear();
      EXPECT_FALSE(Load(bad[i])) << i;
      ASSERT_EQ(EngineUi().Messages.size(), 1u) << i;
      EXPECT_EQ(EngineUi().Messages[0], path_ + "\nkonnte nicht geöffnet werden!");
      EXPECT_EQ(Network.W1, w1) << i;
    }
  }
  TempDir dir_;
  std::string path_ = dir_.file("net.nnb");
  int32_t n_ = 0, current_ = 0, top_ = 0;
};

TEST_F(NetworkFileTest, HeaderForms) {
  struct TCase {
    const char* name;
    TNetworkFileBytes file;
    int32_t type, n, phase;
  };
  TNetworkFileBytes typeN, thousand, negative, marker, debayer3;
  typeN.Put(1).Put(12).Body(12, 0.25f, 0.03, 10);  // phase 1: ends after "current"
  thousand.Put(1036).Body(36);
  negative.Put(-36).Body(36);
  marker.Put(8).Put(12).Put(2).Body(12).Biases(12, 0.5f).Tables(12, 0.75f);
  debayer3.Put(2).Put(12).Body(12).Biases(12, -0.5f).Tables(12, 0.125f);
  const TCase cases[] = {{"[1, n]", typeN, 1, 12, 1},
                         {"1036", thousand, 1, 36, 1},
                         {"-36", negative, 3, 36, 1},
                         {"[8, n, 2]", marker, 2, 12, 3},
                         {"[2, n] with tables", debayer3, 2, 12, 3}};
  for (const TCase& c : cases) {
    ASSERT_TRUE(Load(c.file)) << c.name;
    EXPECT_EQ(Network.TypeCode, c.type) << c.name;
    EXPECT_EQ(n_, c.n) << c.name;
    EXPECT_EQ(Network.Phase, c.phase) << c.name;
    EXPECT_EQ(top_, 36) << c.name;
  }
  // The last file: biases and tables as written; the others' weights and current.
  EXPECT_EQ(Network.B1[3], -0.5f);
  EXPECT_EQ(Network.Bo[3], -0.5f);
  EXPECT_EQ(Network.Tables1[size_t(12 * 4001 + 4000)], 0.125f);
  ASSERT_TRUE(Load(typeN));
  EXPECT_EQ(current_, 10);
  EXPECT_EQ(Network.W1[37 * 12 + 36], 0.25f);
  EXPECT_EQ(Network.B1[0], 0.0f);
  EXPECT_EQ(Network.Phase1Rate, 0.03);
  EXPECT_EQ(Network.Tables1[2000 + 500], TanhTable[500]);  // tables reset to tanh
  // A "current" below 9 is replaced by n.
  TNetworkFileBytes low;
  low.Put(1).Put(12).Body(12, 0.0f, 0.01, 5);
  ASSERT_TRUE(Load(low));
  EXPECT_EQ(current_, 12);
}

TEST_F(NetworkFileTest, RefusedFilesLeaveTheNetwork) {
  TNetworkFileBytes good;
  good.Put(2).Put(12).Body(12, 0.5f).Biases(12, 0.25f);
  ASSERT_TRUE(Load(good));
  const std::vector<float> w1 = Network.W1;
  std::vector<TNetworkFileBytes> bad(5);
  bad[0].Put(1).Put(1000000000).Floats(100);  // n = 10^9
  bad[1].Put(1).Put(0).Body(0);
  bad[2].Put(8).Put(12).Put(2).Body(12).Biases(12);  // phase 3 of type 2 without its tables
  std::mt19937 rng(3);
  for (int i = 0; i < 3000; ++i) bad[3].Put(uint8_t(rng()));
  bad[4] = good;
  bad[4].Bytes.resize(good.Bytes.size() / 2);  // truncated in W2
  ExpectRefused(bad, w1);
  EXPECT_FALSE(LoadNetworkFile(dir_.file("missing.nnb"), n_, current_, top_));
  EXPECT_EQ(Network.TypeCode, 2);
}

// Weights, biases and tables that are no finite numbers make a file unreadable;
// a sum that is NaN (huge finite weights of both signs) indexes no table and
// comes out as NaN.
TEST_F(NetworkFileTest, ValuesThatAreNoFiniteNumbersAreRefusedAndNaNIndexesNoTable) {
  constexpr float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  TNetworkFileBytes good;
  good.Put(2).Put(12).Body(12, 0.5f).Biases(12, 0.25f);
  ASSERT_TRUE(Load(good));
  const std::vector<float> w1 = Network.W1;
  std::vector<TNetworkFileBytes> bad(5);
  bad[0].Put(2).Put(12).Body(12, nan);
  bad[1].Put(2).Put(12).Body(12, -inf);
  bad[2].Put(2).Put(12).Body(12, 0.5f).Biases(12, nan);
  bad[3].Put(8).Put(12).Put(2).Body(12).Biases(12).Tables(12, inf);
  bad[4] = good;
  const float one = nan;
  std::memcpy(bad[4].Bytes.data() + 8 + 4 * 100, &one, 4);  // a single weight of W1
  ExpectRefused(bad, w1);

  EXPECT_TRUE(std::isnan(NetworkActivation(nan)));
  TNetworkFileBytes huge;  // finite, accepted: phase 3 with per-neuron tables, and phase 1
  huge.Put(8).Put(12).Put(2).Body(12, 1e30f).Biases(12).Tables(12, 0.5f);
  for (const bool tables : {true, false}) {
    ASSERT_TRUE(Load(huge)) << tables;
    if (!tables) Network.Phase = 1;
    for (size_t i = 0; i < NetworkInput.size(); ++i) NetworkInput[i] = i % 2 ? -1e30f : 1e30f;
    ForwardNetwork(36, 12, false, true);
    for (float y : NetworkOutput) EXPECT_TRUE(std::isnan(y)) << y;
  }
}

TEST_F(NetworkFileTest, ForwardPass) {
  // Activation: the table up to 2 inclusive, straight lines beyond.
  EXPECT_EQ(NetworkActivation(2.0f), TanhTable[2000]);
  EXPECT_NEAR(NetworkActivation(2.0f), 0.07f * 2.0f + 0.8240275836f, 1e-6);
  EXPECT_FLOAT_EQ(NetworkActivation(2.5f), 0.07f * 2.5f + 0.8240275836f);
  EXPECT_EQ(NetworkActivation(-0.5f), -TanhTable[500]);
  // Ten neurons each tanh(0.5 * 1) + 0.1; layer 2 neuron 0 sums them times 0.1;
  // the outputs take layer-2 neuron 0 with weight 1 plus bias 0.25.
  TNetworkWeights net;
  net.Size(9);
  for (int j = 0; j <= 9; ++j) {
    net.W1[size_t(j * 37)] = 1.0f;
    net.B1[size_t(j)] = 0.1f;
    net.W2[size_t(j * 21)] = 0.1f;
  }
  for (size_t o = 0; o < 4; ++o) {
    net.Wout[o] = 1.0f;
    net.Bo[o] = 0.25f;
  }
  Network = net;
  NetworkInput.fill(0.0f);
  NetworkInput[0] = 0.5f;
  ForwardNetwork(36, 9, false, true);
  const double h1 = std::tanh(0.5) + 0.1;
  const double expected = std::tanh(std::round(1000 * h1) / 1000) + 0.25;
  for (float y : NetworkOutput) EXPECT_NEAR(y, expected, 1e-6);
  // Without biases and with the bilinear base on a flat input of 1: four times 1.
  Network.Wout.assign(Network.Wout.size(), 0.0f);
  NetworkInput.fill(1.0f);
  ForwardNetwork(36, 9, true, false);
  for (float y : NetworkOutput) EXPECT_NEAR(y, 1.0f, 1e-6);
}

}  // namespace
}  // namespace astrelon::test
