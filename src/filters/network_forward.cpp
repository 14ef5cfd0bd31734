// The forward passes. Each weighted sum adds its terms in the order of the
// inputs (layer 1), of the layer-1 neurons (layer 2 and the one-layer outputs)
// and of the layer-2 neurons (outputs); the vector paths run one neuron or
// output per lane, so every path gives the plain path's sums.
#include "filters/network_forward.h"

#include <algorithm>

#include "common/round_even.h"
#include "filters/network_lanes.h"
#include "filters/neural_tables.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace network_lanes;

constexpr float LineOffset = 0.8240275836f;

// Activation through a neuron's own table; `kept` gets the index used.
[[gnu::always_inline]] inline float TableActivation(const float* table, float s, int32_t& kept) {
  if (s > 2.0f) {
    kept = NetworkOutsideTable;
    return 0.07f * s + LineOffset;
  }
  if (s >= -2.0f) {
    kept = RoundEvenToInt(1000.0f * s);
    return table[2000 + kept];
  }
  kept = NetworkOutsideTable;  // also a NaN sum, which no table holds
  return 0.07f * s - LineOffset;
}

[[gnu::always_inline]] inline float SharedActivation(float s) {
  if (s > 2.0f) return 0.07f * s + LineOffset;
  if (s >= 0.0f) return TanhTable[size_t(RoundEvenToInt(1000.0f * s))];
  if (s >= -2.0f) return -TanhTable[size_t(RoundEvenToInt(-1000.0f * s))];
  return 0.07f * s - LineOffset;
}

constexpr int32_t RoundUp(int32_t v, int32_t lanes) { return (v + lanes - 1) / lanes * lanes; }

// The bilinear base of the 21-input layout (index 10 the centre), after m.
inline void AddBase21(std::array<float, 4>& y, const float* x, float m) {
  y[0] += -m + x[4] / 16 + 3.0f / 16 * (x[5] + x[9]);
  y[1] += -m + x[6] / 16 + 3.0f / 16 * (x[5] + x[11]);
  y[2] += -m + x[14] / 16 + 3.0f / 16 * (x[9] + x[15]);
  y[3] += -m + x[16] / 16 + 3.0f / 16 * (x[15] + x[11]);
}

// V runs the layer-1 and layer-2 sums, V4 the four outputs.
template <class V, class V4>
[[gnu::always_inline]] inline void Forward(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop,
                                           int32_t top, bool addBase, bool useBias) {
  constexpr int32_t L = LaneCount<V>;
  if (net.Stride == 0) {  // no network has been made or read
    pass.Y.fill(0.0f);
    return;
  }
  top = std::min(top, net.Top);
  inputTop = std::min(inputTop, net.RowWidth - 1);
  const bool tables = net.Phase >= 2;
  const float* x = pass.X.data();
  float* h1 = pass.H1.data();
  ColumnSums<V>(net.W1.data(), size_t(net.Stride), x, inputTop + 1, RoundUp(top + 1, L), h1);
  for (int32_t j = 0; j <= top; ++j) {
    float h = tables ? TableActivation(net.Table1(j), h1[j], pass.Kept1[size_t(j)]) : SharedActivation(h1[j]);
    if (useBias) h += net.B1[size_t(j)];
    h1[j] = h;
  }
  std::array<float, 4>& y = pass.Y;
  alignas(16) float out[4];
  if (net.HasLayer2()) {
    const int32_t top2 = std::min(net.Layer2Top, NetworkLayer2Size - 1);
    float* h2 = pass.H2.data();
    ColumnSums<V>(net.W2.data(), NetworkW2Stride, h1, top + 1, RoundUp(top2 + 1, L), h2);
    for (int32_t k = 0; k <= top2; ++k) {
      float h = tables ? TableActivation(net.Table2(k), h2[k], pass.Kept2[size_t(k)]) : SharedActivation(h2[k]);
      if (useBias) h += net.B2[size_t(k)];
      h2[k] = h;
    }
    ColumnSums<V4>(net.Wout.data(), 4, h2, top2 + 1, 4, out);
  } else {
    ColumnSums<V4>(net.W2.data(), NetworkW2Stride, h1, top + 1, 4, out);
  }
  for (size_t o = 0; o < 4; ++o) y[o] = useBias ? out[o] + net.Bo[o] : out[o];
  if (inputTop == 20) {
    AddBase21(y, x, (y[0] + y[1] + y[2] + y[3]) / 4.5f);
  } else if (addBase) {
    const float m = (y[0] + y[1] + y[2] + y[3]) / 4.5f - 9.0f / 16 * x[0];
    y[0] += -m + x[1] / 16 + 3.0f / 16 * (x[2] + x[4]);
    y[1] += -m + x[3] / 16 + 3.0f / 16 * (x[2] + x[5]);
    y[2] += -m + x[6] / 16 + 3.0f / 16 * (x[4] + x[7]);
    y[3] += -m + x[8] / 16 + 3.0f / 16 * (x[7] + x[5]);
  }
}

template <class V, class V4>
[[gnu::always_inline]] inline void Forward21(const TNetworkWeights& net, TNetworkPass& pass, int32_t top) {
  constexpr int32_t L = LaneCount<V>;
  float* x = pass.X.data();
  if (net.Stride == 0) {
    pass.Y.fill(0.0f);
    return;
  }
  top = std::min(top, net.Top);
  const float c = x[10];
  for (int32_t i = 0; i <= 20; ++i) x[i] -= c;
  float* h1 = pass.H1.data();
  ColumnSums<V>(net.W1.data(), size_t(net.Stride), x, std::min(21, net.RowWidth), RoundUp(top + 1, L), h1);
  for (int32_t j = 0; j <= top; ++j) h1[j] = SharedActivation(h1[j]);
  alignas(16) float out[4];
  ColumnSums<V4>(net.W2.data(), NetworkW2Stride, h1, top + 1, 4, out);
  std::array<float, 4>& y = pass.Y;
  for (size_t o = 0; o < 4; ++o) y[o] = out[o];
  AddBase21(y, x, (y[0] + y[1] + y[2] + y[3]) / 4.5f - c);
}

void ForwardPlain(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop, int32_t top, bool addBase,
                  bool useBias) {
  Forward<float, float>(net, pass, inputTop, top, addBase, useBias);
}
void ForwardSse(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop, int32_t top, bool addBase,
                bool useBias) {
  Forward<TVec4f, TVec4f>(net, pass, inputTop, top, addBase, useBias);
}
void Forward21Plain(const TNetworkWeights& net, TNetworkPass& pass, int32_t top) {
  Forward21<float, float>(net, pass, top);
}
void Forward21Sse(const TNetworkWeights& net, TNetworkPass& pass, int32_t top) {
  Forward21<TVec4f, TVec4f>(net, pass, top);
}
#if ASTRELON_HAVE_AVX2
ASTRELON_AVX2 void ForwardAvx2(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop, int32_t top,
                               bool addBase, bool useBias) {
  Forward<TVec8f, TVec4f>(net, pass, inputTop, top, addBase, useBias);
}
ASTRELON_AVX2 void Forward21Avx2(const TNetworkWeights& net, TNetworkPass& pass, int32_t top) {
  Forward21<TVec8f, TVec4f>(net, pass, top);
}
#endif

}  // namespace

TNetworkPath NetworkPathInUse() {
  if (!SseEnabled) return TNetworkPath::Plain;
  return UseAvx2(true) ? TNetworkPath::Avx2 : TNetworkPath::Sse;
}

float NetworkActivation(float s) { return SharedActivation(s); }

void ForwardNetwork(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop, int32_t top, bool addBase,
                    bool useBias, TNetworkPath path) {
#if ASTRELON_HAVE_AVX2
  if (path == TNetworkPath::Avx2 && CpuHasAvx2()) return ForwardAvx2(net, pass, inputTop, top, addBase, useBias);
#endif
  if (path != TNetworkPath::Plain) return ForwardSse(net, pass, inputTop, top, addBase, useBias);
  ForwardPlain(net, pass, inputTop, top, addBase, useBias);
}

void ForwardNetwork(int32_t inputTop, int32_t top, bool addBase, bool useBias) {
  ForwardNetwork(Network, NetworkPass, inputTop, top, addBase, useBias);
}

void ForwardNetwork21(const TNetworkWeights& net, TNetworkPass& pass, int32_t top, TNetworkPath path) {
#if ASTRELON_HAVE_AVX2
  if (path == TNetworkPath::Avx2 && CpuHasAvx2()) return Forward21Avx2(net, pass, top);
#endif
  if (path != TNetworkPath::Plain) return Forward21Sse(net, pass, top);
  Forward21Plain(net, pass, top);
}

void ForwardNetwork21(int32_t top) { ForwardNetwork21(Network, NetworkPass, top); }

}  // namespace astrelon
