// The forward passes. Each weighted sum adds its terms in the order of the
// inputs (layer 1), of the layer-1 neurons (layer 2 and the one-layer outputs)
// and of the layer-2 neurons (outputs); the vector paths run one neuron or
// output per lane, so every path gives the plain path's sums.
#include "kernels/network/network_forward.h"

#include <algorithm>

#include "kernels/network/network_lanes.h"
#include "kernels/network/neural_tables.h"
#include "platform/processor_features.h"
#include "platform/simd_support.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon {

namespace {

using namespace network_lanes;

constexpr float LineOffset = 0.8240275836f;
// Adding and taking off 1.5 * 2^23 rounds a float of magnitude below 2^22 to a
// whole number, halves to even, as the processor's conversion does.
constexpr float RoundingShift = 0x1.8p23f;

// One activation, without branches: a sum within -2..2 takes its table entry
// at round(1000 s), beyond it the straight lines of slope 0.07 continue tanh(+-2)
// (a NaN sum takes the lower line and stays NaN). With a table of its own
// (`table` not null) the neuron keeps the index it used (3000 outside -2..2);
// otherwise the shared TanhTable serves, at round(1000 |s|) with the sign of s.
// The vector loop below does the same float operations in every lane.
[[gnu::always_inline]] inline float ActivateOne(float s, const float* table, int32_t* kept) {
  const float line = 0.07f * s + (s > 2.0f ? LineOffset : -LineOffset);
  if (table) {
    const bool inside = s >= -2.0f && s <= 2.0f;
    const int32_t index = int32_t(((inside ? s : 0.0f) * 1000.0f + RoundingShift) - RoundingShift);
    *kept = inside ? index : NetworkOutsideTable;
    return inside ? table[2000 + index] : line;
  }
  const float a = s < 0.0f ? -s : s;
  const bool inside = a <= 2.0f;
  const int32_t index = int32_t(((inside ? a : 2.0f) * 1000.0f + RoundingShift) - RoundingShift);
  const float t = TanhTable[size_t(index)];
  return inside ? (s < 0.0f ? -t : t) : line;
}

// The lanes of V from base[offset[l]], read one by one.
template <class V>
[[gnu::always_inline]] inline V GatherLanes(const float* base, const int32_t* offset) {
  if constexpr (LaneCount<V> == 4) {
    return V{base[offset[0]], base[offset[1]], base[offset[2]], base[offset[3]]};
  } else {
    static_assert(LaneCount<V> == 8);
    return V{base[offset[0]], base[offset[1]], base[offset[2]], base[offset[3]],
             base[offset[4]], base[offset[5]], base[offset[6]], base[offset[7]]};
  }
}

// The activations of h[0 .. count) in place, a block of V at a time; `tables`
// the layer's first per-neuron table (nullptr: the shared table), `kept` the
// kept indices, `bias` (when given) added afterwards. h and kept hold whole
// blocks (the lanes beyond count get values that nothing reads).
template <class V>
[[gnu::always_inline]] inline void Activate(float* h, int32_t count, const float* tables, int32_t* kept,
                                           const float* bias) {
  constexpr int32_t L = LaneCount<V>;
  if constexpr (L == 1) {
    for (int32_t j = 0; j < count; ++j) {
      const float v = tables ? ActivateOne(h[j], tables + size_t(j) * NetworkTableSize, kept + j)
                             : ActivateOne(h[j], nullptr, nullptr);
      h[j] = bias ? v + bias[j] : v;
    }
  } else {
    using I = decltype(V{} < V{});
    const V two = Broadcast<V>(2.0f), minusTwo = Broadcast<V>(-2.0f), zero = Broadcast<V>(0.0f);
    const V shift = Broadcast<V>(RoundingShift), thousand = Broadcast<V>(1000.0f);
    const V up = Broadcast<V>(LineOffset), down = Broadcast<V>(-LineOffset), slope = Broadcast<V>(0.07f);
    I lane;
    for (int32_t l = 0; l < L; ++l) lane[l] = l;
    alignas(32) int32_t offset[L];
    for (int32_t j = 0; j < count; j += L) {
      const V s = LoadLanes<V>(h + j);
      const V line = slope * s + (s > two ? up : down);
      V v;
      if (tables) {
        const I inside = (s >= minusTwo) & (s <= two);
        const I index = __builtin_convertvector(((inside ? s : zero) * thousand + shift) - shift, I);
        // Lanes beyond the layer read the last neuron's table.
        const I neuron = LaneMin(lane + j, I{} + (count - 1));
        StoreLanes(offset, neuron * NetworkTableSize + 2000 + index);
        v = inside ? GatherLanes<V>(tables, offset) : line;
        StoreLanes(kept + j, inside ? index : I{} + NetworkOutsideTable);
      } else {
        const V a = s < zero ? -s : s;
        const I inside = a <= two;  // false for a NaN sum
        StoreLanes(offset, __builtin_convertvector(((inside ? a : two) * thousand + shift) - shift, I));
        const V t = GatherLanes<V>(TanhTable.data(), offset);
        v = inside ? (s < zero ? -t : t) : line;
      }
      if (bias && j + L <= count) v += LoadLanes<V>(bias + j);
      StoreLanes(h + j, v);
      if (bias && j + L > count)
        for (int32_t l = 0; l < count - j; ++l) h[j + l] += bias[j + l];
    }
  }
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
  Activate<V>(h1, top + 1, tables ? net.Tables1.data() : nullptr, pass.Kept1.data(),
              useBias ? net.B1.data() : nullptr);
  std::array<float, 4>& y = pass.Y;
  alignas(16) float out[4];
  if (net.HasLayer2()) {
    const int32_t top2 = std::min(net.Layer2Top, NetworkLayer2Size - 1);
    float* h2 = pass.H2.data();
    ColumnSums<V>(net.W2.data(), NetworkW2Stride, h1, top + 1, RoundUp(top2 + 1, L), h2);
    Activate<V>(h2, top2 + 1, tables ? net.Tables2.data() : nullptr, pass.Kept2.data(),
                useBias ? net.B2.data() : nullptr);
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
  Activate<V>(h1, top + 1, nullptr, nullptr, nullptr);
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

float NetworkActivation(float s) {
  Activate<float>(&s, 1, nullptr, nullptr, nullptr);
  return s;
}

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

std::array<float, 4> NetworkBase21(const float* x) {
  const float c = x[10];
  std::array<float, 21> centred;
  for (size_t i = 0; i < centred.size(); ++i) centred[i] = x[i] - c;
  std::array<float, 4> y{};
  AddBase21(y, centred.data(), (y[0] + y[1] + y[2] + y[3]) / 4.5f - c);
  return y;
}

}  // namespace astrelon
