#pragma once
// Networks of every type with random weights, biases and (in phases 2 and 3)
// perturbed activation tables, made in Network through InitNetwork, and a
// reference forward pass: the plain loops of the pass before it took a record
// of its own, with the weights read neuron by neuron.
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

#include "core/settings.h"
#include "kernels/network/network_file_codec.h"
#include "kernels/network/network_weights.h"
#include "kernels/network/neural_tables.h"

namespace astrelon::test {

// A type-`type` network of n + 1 neurons (current in use) in `phase`, from
// `seed`; weights uniform in [-w/2, w/2).
inline void MakeRandomNetwork(int32_t type, int32_t n, int32_t current, int32_t phase, uint64_t seed,
                              double w = 1.0) {
  TNetworkWeights layout;
  layout.TypeCode = type;
  SetNetworkLayout(layout);
  const double savedW = Settings.NetworkSetting;
  Settings.NetworkSetting = w;
  InitNetwork(n, current, layout.InputTop, seed);
  Settings.NetworkSetting = savedW;
  TNetworkWeights& net = Network;
  net.TypeCode = type;
  net.Layer2Top = layout.Layer2Top;
  net.Phase = phase;
  net.Rate = 0.0375;
  std::mt19937 rng(uint32_t(seed * 7 + 1));
  std::uniform_real_distribution<float> u(-0.3f, 0.3f);
  for (float& b : net.B1) b = u(rng);
  for (float& b : net.B2) b = u(rng);
  for (float& b : net.Bo) b = u(rng);
  if (phase > 1) {
    for (float& v : net.Tables1) v += 0.01f * u(rng);
    for (float& v : net.Tables2) v += 0.01f * u(rng);
  }
}

inline float ReferenceActivation(float s) {
  if (s > 2.0f) return 0.07f * s + 0.8240275836f;
  if (s < -2.0f) return 0.07f * s - 0.8240275836f;
  const float t = TanhTable[size_t(std::lrint(1000.0f * std::abs(s)))];
  return s < 0 ? -t : t;
}

inline float ReferenceTableActivation(const float* table, float s) {
  if (s > 2.0f) return 0.07f * s + 0.8240275836f;
  if (s < -2.0f) return 0.07f * s - 0.8240275836f;
  return table[2000 + std::lrint(1000.0f * s)];
}

// Layer outputs of the reference pass.
struct TReferencePass {
  std::array<float, NetworkMaxNeurons> H1{};
  std::array<float, NetworkLayer2Size> H2{};
  std::array<float, 4> Y{};
};

inline TReferencePass ReferenceForward(const TNetworkWeights& net, const std::array<float, 64>& x, int32_t inputTop,
                                       int32_t top, bool addBase, bool useBias) {
  TReferencePass r;
  top = std::min(top, net.Top);
  inputTop = std::min(inputTop, net.RowWidth - 1);
  const bool tables = net.Phase >= 2;
  for (int32_t j = 0; j <= top; ++j) {
    float s = 0;
    for (int32_t i = 0; i <= inputTop; ++i) s += net.W1At(j, i) * x[size_t(i)];
    float h = tables ? ReferenceTableActivation(net.Table1(j), s) : ReferenceActivation(s);
    if (useBias) h += net.B1[size_t(j)];
    r.H1[size_t(j)] = h;
  }
  std::array<float, 4>& y = r.Y;
  if (net.TypeCode <= 10) {
    for (int32_t k = 0; k <= net.Layer2Top; ++k) {
      float s = 0;
      for (int32_t j = 0; j <= top; ++j) s += r.H1[size_t(j)] * net.W2At(j, k);
      float h = tables ? ReferenceTableActivation(net.Table2(k), s) : ReferenceActivation(s);
      if (useBias) h += net.B2[size_t(k)];
      r.H2[size_t(k)] = h;
    }
    for (size_t o = 0; o < 4; ++o) {
      float s = 0;
      for (int32_t k = 0; k <= net.Layer2Top; ++k) s += r.H2[size_t(k)] * net.Wout[size_t(k) * 4 + o];
      y[o] = useBias ? s + net.Bo[o] : s;
    }
  } else {
    for (size_t o = 0; o < 4; ++o) {
      float s = 0;
      for (int32_t j = 0; j <= top; ++j) s += r.H1[size_t(j)] * net.W2At(j, int32_t(o));
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
  return r;
}

// Random inputs in [-a, a], zero beyond the input top.
inline std::array<float, 64> RandomInputs(std::mt19937& rng, int32_t inputTop, float a) {
  std::uniform_real_distribution<float> u(-a, a);
  std::array<float, 64> x{};
  for (int32_t i = 0; i <= inputTop; ++i) x[size_t(i)] = u(rng);
  return x;
}

}  // namespace astrelon::test
