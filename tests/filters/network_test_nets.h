#pragma once
// Networks for the network filter and enlargement tests, written with the
// program's own weight-file writers: zero weights of any type and input count
// (the outputs are then the biases and the bilinear base), or random ones.
#include <cstring>
#include <string>
#include <vector>

#include "../kernels/random_network.h"
#include "filter_images.h"
#include "kernels/network/network_file_codec.h"
#include "kernels/network/network_file_writers.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"
#include "platform/processor_features.h"

namespace astrelon::test {

// A network of `type` with n + 1 neurons, every weight 0 and the output
// biases `bo`; rows of `rowWidth` inputs when given (21 for the 21-input
// enlargement layout).
inline void MakeZeroNetwork(int32_t type, int32_t n, std::array<float, 4> bo = {}, int32_t rowWidth = 0) {
  BuildTanhTable();
  TNetworkWeights net;
  net.TypeCode = type;
  SetNetworkLayout(net);
  if (rowWidth == 21) {
    net.InputTop = 20;
    net.RowWidth = 21;
  }
  net.Size(n);
  net.Current = n;
  net.Rate = 0.01;
  net.Bo = bo;
  Network = std::move(net);
}

// The bytes of two networks are the same.
inline bool SameNetwork(const TNetworkWeights& a, const TNetworkWeights& b) {
  return a.TypeCode == b.TypeCode && a.Top == b.Top && a.W1 == b.W1 && a.W2 == b.W2 && a.Wout == b.Wout &&
         a.Bo == b.Bo && a.B1 == b.B1;
}

// Planes as float bits, for comparing results exactly.
inline bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The filter tests' store with the network and the vector setting restored.
class NetworkKernelTest : public KernelTest {
protected:
  void SetUp() override {
    KernelTest::SetUp();
    EngineUi().Messages.clear();
  }
  void TearDown() override {
    Network = TNetworkWeights{};
    SseEnabled = saveSse_;
    KernelTest::TearDown();
  }
  bool saveSse_ = SseEnabled;
};

}  // namespace astrelon::test
