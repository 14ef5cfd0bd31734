#include "filters/network_weights.h"

#include <algorithm>
#include <cmath>

#include "filters/neural_tables.h"

namespace astrelon {

TNetworkWeights Network;
std::array<float, 61> NetworkInput{};
std::array<float, 4> NetworkOutput{};
bool NetworkDebayerMode = false;

namespace {

void ResetTables(std::vector<float>& tables, size_t count) {
  tables.assign(count * size_t(NetworkTableSize), 0.0f);
  for (size_t t = 0; t < count; ++t) {
    float* table = tables.data() + t * size_t(NetworkTableSize);
    for (int32_t i = 0; i < TanhTableSize; ++i) {
      table[2000 + i] = TanhTable[size_t(i)];
      table[2000 - i] = -TanhTable[size_t(i)];
    }
  }
}

constexpr float LineOffset = 0.8240275836f;

// Activation through a neuron's own table.
float TableActivation(const float* table, float s) {
  if (s > 2.0f) return 0.07f * s + LineOffset;
  if (s < -2.0f) return 0.07f * s - LineOffset;
  if (!(s >= -2.0f)) return s;  // NaN passes both tests above and indexes nothing
  return table[2000 + std::lrint(1000.0f * s)];
}

float Dot(const float* a, const float* b, int32_t count) {
  float s = 0;
  for (int32_t i = 0; i < count; ++i) s += a[i] * b[i];
  return s;
}

}  // namespace

void TNetworkWeights::Size(int32_t n) {
  Top = n;
  const size_t neurons = size_t(n) + 1;
  W1.assign(neurons * size_t(RowWidth), 0.0f);
  W2.assign(neurons * NetworkLayer2Size, 0.0f);
  Wout.assign(NetworkLayer2Size * 4, 0.0f);
  B1.assign(neurons, 0.0f);
  B2.fill(0.0f);
  Bo.fill(0.0f);
  ResetTables(Tables1, neurons);
  ResetTables(Tables2, NetworkLayer2Size);
}

float NetworkActivation(float s) {
  if (s > 2.0f) return 0.07f * s + LineOffset;
  if (s < -2.0f) return 0.07f * s - LineOffset;
  if (!(s >= -2.0f)) return s;  // NaN passes both tests above and indexes nothing
  const float t = TanhTable[size_t(std::lrint(1000.0f * std::abs(s)))];
  return s < 0 ? -t : t;
}

void ForwardNetwork(int32_t inputTop, int32_t top, bool addBase, bool useBias) {
  const TNetworkWeights& net = Network;
  top = std::min(top, net.Top);
  inputTop = std::min(inputTop, net.RowWidth - 1);
  const bool tables = net.Phase >= 2;
  const float* x = NetworkInput.data();
  std::array<float, NetworkMaxNeurons> h1;
  for (int32_t j = 0; j <= top; ++j) {
    const float s = Dot(net.W1.data() + size_t(j) * size_t(net.RowWidth), x, inputTop + 1);
    float h = tables ? TableActivation(net.Tables1.data() + size_t(j) * NetworkTableSize, s) : NetworkActivation(s);
    if (useBias) h += net.B1[size_t(j)];
    h1[size_t(j)] = h;
  }
  std::array<float, 4>& y = NetworkOutput;
  if (net.TypeCode <= 10) {
    std::array<float, NetworkLayer2Size> h2{};
    for (int32_t k = 0; k <= net.Layer2Top; ++k) {
      float s = 0;
      for (int32_t j = 0; j <= top; ++j) s += h1[size_t(j)] * net.W2[size_t(j) * NetworkLayer2Size + size_t(k)];
      float h = tables ? TableActivation(net.Tables2.data() + size_t(k) * NetworkTableSize, s) : NetworkActivation(s);
      if (useBias) h += net.B2[size_t(k)];
      h2[size_t(k)] = h;
    }
    for (size_t o = 0; o < 4; ++o) {
      float s = 0;
      for (int32_t k = 0; k <= net.Layer2Top; ++k) s += h2[size_t(k)] * net.Wout[size_t(k) * 4 + o];
      y[o] = useBias ? s + net.Bo[o] : s;
    }
  } else {
    for (size_t o = 0; o < 4; ++o) {
      float s = 0;
      for (int32_t j = 0; j <= top; ++j) s += h1[size_t(j)] * net.W2[size_t(j) * NetworkLayer2Size + o];
      y[o] = useBias ? s + net.Bo[o] : s;
    }
  }
  if (inputTop == 20) {
    const float m = (y[0] + y[1] + y[2] + y[3]) / 4.5f;
    y[0] += -m + x[4] / 16 + 3.0f / 16 * (x[5] + x[9]);
    y[1] += -m + x[6] / 16 + 3.0f / 16 * (x[5] + x[11]);
    y[2] += -m + x[14] / 16 + 3.0f / 16 * (x[9] + x[15]);
    y[3] += -m + x[16] / 16 + 3.0f / 16 * (x[15] + x[11]);
  } else if (addBase) {
    const float m = (y[0] + y[1] + y[2] + y[3]) / 4.5f - 9.0f / 16 * x[0];
    y[0] += -m + x[1] / 16 + 3.0f / 16 * (x[2] + x[4]);
    y[1] += -m + x[3] / 16 + 3.0f / 16 * (x[2] + x[5]);
    y[2] += -m + x[6] / 16 + 3.0f / 16 * (x[4] + x[7]);
    y[3] += -m + x[8] / 16 + 3.0f / 16 * (x[7] + x[5]);
  }
}

}  // namespace astrelon
