// The training step. The deltas add their terms in a fixed order; the weight
// updates take the factor rate x delta once per neuron (rounded to float) and
// multiply it by each input, so every path changes every weight the same way.
#include "kernels/network/network_training.h"

#include <algorithm>
#include <cmath>

#include "kernels/network/network_lanes.h"
#include "platform/simd_support.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace network_lanes;

using TNeuronFloats = std::array<float, NetworkNeuronStride(NetworkMaxNeurons)>;

float ClampDelta(float s) { return std::clamp(s, -10.0f, 10.0f); }

// b += rate * share * (1 - b^2) * s when 1 - b^2 > 0.
void TrainBias(float& b, double rate, double share, double s) {
  const double f = 1.0 - double(b) * b;
  if (f > 0) b = float(b + rate * share * f * s);
}

// table[2000 + p + u] += d * rate * G[u] around the kept index p, unless the
// window would reach within 9 entries of a table end (or the sum lay outside).
void UpdateTable(float* table, int32_t p, float d, double rate, const TNetworkWeights& net) {
  if (!(p > -1991 && p < 1991)) return;
  const float f = float(double(d) * rate);
  const int32_t w = net.UpdateHalfWidth;
  for (int32_t u = -w; u <= w; ++u) table[2000 + p + u] += f * net.UpdateWindow[size_t(NetworkMaxUpdateHalfWidth + u)];
}

// W1 of neurons 0..top, inputs 0..inputTop: += clamp(float(rate d1[j]) x[i]).
template <class V>
[[gnu::always_inline]] inline void UpdateW1(TNetworkWeights& net, const float* x, int32_t inputTop, int32_t top,
                                            double r) {
  alignas(32) TNeuronFloats f;
  for (int32_t j = 0; j <= top; ++j) f[size_t(j)] = float(r * net.D1[size_t(j)]);
  for (int32_t i = 0; i <= inputTop; ++i)
    AddClampedSteps<V>(net.W1.data() + size_t(i) * size_t(net.Stride), f.data(), x[i], top + 1);
}

template <class V, class V4>
[[gnu::always_inline]] inline void Train(TNetworkWeights& net, const TNetworkPass& pass, int32_t inputTop,
                                         int32_t top, bool useBias) {
  if (net.Stride == 0) return;
  top = std::min(top, net.Top);
  inputTop = std::min(inputTop, net.RowWidth - 1);
  if (top < 0) return;
  const int32_t phase = net.Phase;
  const double r = inputTop < 5 && phase > 1 ? net.Rate * 0.2 : net.Rate;
  const bool layer2 = net.HasLayer2();
  const bool bias = phase == 1 && useBias;
  const int32_t top2 = std::min(net.Layer2Top, NetworkLayer2Size - 1);
  const float* h1 = pass.H1.data();
  const float* h2 = pass.H2.data();

  // Output errors.
  for (size_t o = 0; o < 4; ++o) {
    net.E[o] = (net.T[o] - pass.Y[o]) * 0.5f;
    if (bias) TrainBias(net.Bo[o], r, 0.02, double(net.T[o]) - double(pass.Y[o]));
  }
  // Layer-2 deltas.
  net.D2.fill(0.0f);
  if (layer2)
    for (int32_t k = 0; k <= top2; ++k) {
      float s = 0;
      for (size_t o = 0; o < 4; ++o) s += net.E[o] * net.Wout[size_t(k) * 4 + o];
      s = ClampDelta(s);
      if (phase == 1) {
        const float f = 1.0f - h2[k] * h2[k];
        net.D2[size_t(k)] = f < 0 ? 0.0f : s * f;
      } else {
        net.D2[size_t(k)] = 0.3f * s;
      }
      if (bias) TrainBias(net.B2[size_t(k)], r, 0.01, s);
    }
  // Layer-1 deltas.
  if (phase <= 2)
    for (int32_t j = 0; j <= top; ++j) {
      const float* w2 = net.W2.data() + size_t(j) * NetworkW2Stride;
      float s = 0;
      if (layer2)
        for (int32_t k = 0; k <= top2; ++k) s += net.D2[size_t(k)] * w2[k];
      else
        for (size_t o = 0; o < 4; ++o) s += net.E[o] * w2[o];
      s = ClampDelta(s);
      if (phase == 1) {
        const float f = 1.0f - h1[j] * h1[j];
        net.D1[size_t(j)] = f > 0 ? s * f : 0.0f;
      } else {
        net.D1[size_t(j)] = s * (layer2 ? 0.3f : 0.15f);
      }
      if (bias) TrainBias(net.B1[size_t(j)], r, 0.005, s);
    }

  if (phase == 1) {
    alignas(16) float re[4];
    for (size_t o = 0; o < 4; ++o) re[o] = float(r * net.E[o]);
    if (layer2) {
      for (int32_t k = 0; k <= top2; ++k) AddClampedSteps<V4>(net.Wout.data() + size_t(k) * 4, re, h2[k], 4);
      alignas(32) std::array<float, NetworkW2Stride> rd2{};
      for (int32_t k = 0; k <= top2; ++k) rd2[size_t(k)] = float(r * net.D2[size_t(k)]);
      for (int32_t j = 0; j <= top; ++j)
        AddClampedSteps<V>(net.W2.data() + size_t(j) * NetworkW2Stride, rd2.data(), h1[j], top2 + 1);
    } else {
      for (int32_t j = 0; j <= top; ++j)
        AddClampedSteps<V4>(net.W2.data() + size_t(j) * NetworkW2Stride, re, h1[j], 4);
    }
    UpdateW1<V>(net, pass.X.data(), inputTop, top, r);
  } else if (phase == 2) {
    for (int32_t j = 0; j <= top; ++j) UpdateTable(net.Table1(j), pass.Kept1[size_t(j)], net.D1[size_t(j)], r, net);
  } else if (layer2) {
    for (int32_t k = 0; k <= top2; ++k) UpdateTable(net.Table2(k), pass.Kept2[size_t(k)], net.D2[size_t(k)], r, net);
  }
}

template <class V>
[[gnu::always_inline]] inline void TrainSimple(TNetworkWeights& net, const TNetworkPass& pass, int32_t top) {
  if (net.Stride == 0) return;
  top = std::min(top, net.Top);
  if (top < 0) return;
  const double r = net.Rate;
  const float* h1 = pass.H1.data();
  for (size_t o = 0; o < 4; ++o) net.E[o] = (net.T[o] - pass.Y[o]) * 0.5f;
  for (int32_t j = 0; j <= top; ++j) {
    const float* w2 = net.W2.data() + size_t(j) * NetworkW2Stride;
    float s = 0;
    for (size_t o = 0; o < 4; ++o) s += net.E[o] * w2[o];
    const float f = 1.0f - h1[j] * h1[j];
    net.D1[size_t(j)] = f > 0 ? s * f : 0.0f;
  }
  float re[4];
  for (size_t o = 0; o < 4; ++o) re[o] = float(r * net.E[o]);
  for (int32_t j = 0; j <= top; ++j) {
    float* w2 = net.W2.data() + size_t(j) * NetworkW2Stride;
    for (size_t o = 0; o < 4; ++o) w2[o] = ClampStep(w2[o] + re[o] * h1[j]);
  }
  UpdateW1<V>(net, pass.X.data(), std::min(20, net.RowWidth - 1), top, r);
}

void TrainPlain(TNetworkWeights& net, const TNetworkPass& pass, int32_t inputTop, int32_t top, bool useBias) {
  Train<float, float>(net, pass, inputTop, top, useBias);
}
void TrainSse(TNetworkWeights& net, const TNetworkPass& pass, int32_t inputTop, int32_t top, bool useBias) {
  Train<TVec4f, TVec4f>(net, pass, inputTop, top, useBias);
}
void TrainSimplePlain(TNetworkWeights& net, const TNetworkPass& pass, int32_t top) {
  TrainSimple<float>(net, pass, top);
}
void TrainSimpleSse(TNetworkWeights& net, const TNetworkPass& pass, int32_t top) {
  TrainSimple<TVec4f>(net, pass, top);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void TrainAvx2(TNetworkWeights& net, const TNetworkPass& pass, int32_t inputTop, int32_t top,
                             bool useBias) {
  Train<TVec8f, TVec4f>(net, pass, inputTop, top, useBias);
}
ASTRELON_AVX2 void TrainSimpleAvx2(TNetworkWeights& net, const TNetworkPass& pass, int32_t top) {
  TrainSimple<TVec8f>(net, pass, top);
}
#endif

}  // namespace

void TrainStep(int32_t inputTop, int32_t top, bool useBias, TNetworkPath path) {
#if ASTRELON_HAVE_AVX2
  if (path == TNetworkPath::Avx2 && CpuHasAvx2()) return TrainAvx2(Network, NetworkPass, inputTop, top, useBias);
#endif
  if (path != TNetworkPath::Plain) return TrainSse(Network, NetworkPass, inputTop, top, useBias);
  TrainPlain(Network, NetworkPass, inputTop, top, useBias);
}

void TrainStepSimple(int32_t top, TNetworkPath path) {
#if ASTRELON_HAVE_AVX2
  if (path == TNetworkPath::Avx2 && CpuHasAvx2()) return TrainSimpleAvx2(Network, NetworkPass, top);
#endif
  if (path != TNetworkPath::Plain) return TrainSimpleSse(Network, NetworkPass, top);
  TrainSimplePlain(Network, NetworkPass, top);
}

TUpdateWindow MakeUpdateWindow(int32_t w) {
  w = std::clamp(w, 0, NetworkMaxUpdateHalfWidth);
  TUpdateWindow g{};
  if (w == 0) {
    g[NetworkMaxUpdateHalfWidth] = 1.0f;
    return g;
  }
  const double width = w / (0.0732 * w + 1);
  for (int32_t u = -w; u <= w; ++u) {
    const double q = u / width;
    g[size_t(NetworkMaxUpdateHalfWidth + u)] = float(std::exp(-q * q) / std::sqrt(double(w)));
  }
  return g;
}

void BuildTableUpdateWindow(int32_t w) {
  Network.UpdateHalfWidth = std::clamp(w, 0, NetworkMaxUpdateHalfWidth);
  Network.UpdateWindow = MakeUpdateWindow(w);
}

}  // namespace astrelon
