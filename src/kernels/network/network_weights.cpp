#include "kernels/network/network_weights.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <stdexcept>

#include "core/settings.h"
#include "kernels/network/neural_tables.h"

namespace astrelon {

TNetworkWeights Network;
TNetworkPass NetworkPass;
bool NetworkDebayerMode = false;

namespace {

void ResetTables(std::vector<float>& tables, size_t count) {
  tables.resize(count * size_t(NetworkTableSize));
  for (size_t t = 0; t < count; ++t) {
    float* table = tables.data() + t * size_t(NetworkTableSize);
    for (int32_t i = 0; i < TanhTableSize; ++i) {
      table[2000 + i] = TanhTable[size_t(i)];
      table[2000 - i] = -TanhTable[size_t(i)];
    }
  }
}

}  // namespace

void TNetworkWeights::Size(int32_t n) {
  Top = n;
  const int32_t neurons = n + 1;
  Stride = NetworkNeuronStride(neurons);
  W1.assign(size_t(RowWidth) * size_t(Stride), 0.0f);
  W2.assign(size_t(neurons) * NetworkW2Stride, 0.0f);
  Wout.assign(NetworkLayer2Size * 4, 0.0f);
  B1.assign(size_t(neurons), 0.0f);
  B2.fill(0.0f);
  Bo.fill(0.0f);
  SaveBiases(Phase1Biases);
  SaveBiases(Phase2Biases);
  D1.assign(size_t(Stride), 0.0f);
  D2.fill(0.0f);
  ResetTables(Tables1, size_t(neurons));
  ResetTables(Tables2, NetworkLayer2Size);
}

void TNetworkWeights::SaveBiases(TNetworkBiases& to) const {
  to.B1 = B1;
  to.B2 = B2;
  to.Bo = Bo;
}

void TNetworkWeights::RestoreBiases(const TNetworkBiases& from) {
  // A copy of another size (saved before the network was replaced) is not used.
  if (from.B1.size() != B1.size()) return;
  B1 = from.B1;
  B2 = from.B2;
  Bo = from.Bo;
}

void ResetLayer1Functions() { ResetTables(Network.Tables1, size_t(Network.Top) + 1); }

void ResetLayer2Functions() { ResetTables(Network.Tables2, NetworkLayer2Size); }

void InitNetwork(int32_t n, int32_t current, int32_t N) {
  InitNetwork(n, current, N, uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()));
}

void InitNetwork(int32_t n, int32_t current, int32_t N, uint64_t seed) {
  if (n < 0 || n >= NetworkMaxNeurons || N < 0 || N >= NetworkMaxInputs)
    throw std::invalid_argument("network size out of range");
  TNetworkWeights& net = Network;
  net.InputTop = N;
  net.RowWidth = N <= 36 ? 37 : 61;
  net.Size(n);
  net.Current = std::min(std::max(current, 0), n);
  net.Phase = 1;
  net.Layer2Top = 20;
  net.Phase1Rate = 0.05;
  net.Phase23Rate = 0.02;
  net.Carried = 100000.0;
  net.UpdateHalfWidth = 0;
  net.UpdateWindow.fill(0.0f);

  std::mt19937_64 rng(seed);
  // The settings dialog takes 0 .. 99; a settings file may hold any number,
  // and weights beyond that range overflow the first pass.
  const double w = std::clamp(Settings.NetworkSetting, 0.0, 99.0);
  const float high = float(w / 2);
  auto next = [&] {
    const double u = double(rng() >> 11) * 0x1p-53;  // [0, 1)
    const float v = float(u * w - w / 2);
    // Rounding to float must not reach the open end of the range.
    return v >= high && w > 0 ? std::nextafter(high, 0.0f) : v;
  };
  for (int32_t j = 0; j <= n; ++j)
    for (int32_t i = 0; i < net.RowWidth; ++i) net.W1At(j, i) = next();
  for (int32_t j = 0; j <= n; ++j)
    for (int32_t k = 0; k < NetworkLayer2Size; ++k) net.W2At(j, k) = next();
  for (float& v : net.Wout) v = next();
}

}  // namespace astrelon
