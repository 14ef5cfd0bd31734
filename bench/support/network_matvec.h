#pragma once
// The plain baseline of the network benchmarks: the matrix-vector products of
// one forward pass in eight-wide vectors (four-wide without AVX2), without
// activations, biases and base: layer 1, then layer 2 and the outputs, or the
// outputs straight from layer 1.
#include "kernels/network/network_weights.h"
#include "platform/simd_support.h"
#include "platform/vector_lanes.h"

#pragma GCC diagnostic ignored "-Wpsabi"

namespace astrelon::bench {

template <class V>
[[gnu::always_inline]] inline void MatVec(const TNetworkWeights& net, const float* x, float* h1, float* h2, float* y,
                                          int32_t inputTop) {
  using namespace simd;
  constexpr int L = LaneCount<V>;
  for (int32_t j = 0; j < net.Stride; j += L) {
    V s = Splat<V>(0.0f);
    for (int32_t i = 0; i <= inputTop; ++i)
      s += Splat<V>(x[i]) * LoadLanes<V>(net.W1.data() + size_t(i) * size_t(net.Stride) + size_t(j));
    StoreLanes(h1 + j, s);
  }
  const int32_t neurons = net.Top + 1;
  if (net.HasLayer2()) {
    for (int32_t k = 0; k < NetworkW2Stride; k += L) {
      V s = Splat<V>(0.0f);
      for (int32_t j = 0; j < neurons; ++j)
        s += Splat<V>(h1[j]) * LoadLanes<V>(net.W2.data() + size_t(j) * NetworkW2Stride + size_t(k));
      StoreLanes(h2 + k, s);
    }
    TVec4f s = Splat<TVec4f>(0.0f);
    for (int32_t k = 0; k < NetworkLayer2Size; ++k)
      s += Splat<TVec4f>(h2[k]) * LoadLanes<TVec4f>(net.Wout.data() + 4 * k);
    StoreLanes(y, s);
  } else {
    TVec4f s = Splat<TVec4f>(0.0f);
    for (int32_t j = 0; j < neurons; ++j)
      s += Splat<TVec4f>(h1[j]) * LoadLanes<TVec4f>(net.W2.data() + size_t(j) * NetworkW2Stride);
    StoreLanes(y, s);
  }
}

}  // namespace astrelon::bench
