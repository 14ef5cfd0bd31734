#pragma once
// Evaluating the network in memory: the activation and the forward passes.
#include <array>
#include <cstdint>

#include "kernels/network/network_weights.h"

namespace astrelon {

// The loops that add the weighted sums: plain, four SSE lanes or eight AVX2
// lanes. All three give the same results to the last bit.
enum class TNetworkPath : int32_t { Plain, Sse, Avx2 };
// The widest path the "MMXundSSE" setting and the processor allow.
TNetworkPath NetworkPathInUse();

// The shared activation: tanh from TanhTable within -2..2 (index
// round(1000 |s|)), beyond it straight lines of slope 0.07 continuing tanh(+-2).
float NetworkActivation(float s);

// Evaluates `net` on pass.X[0..inputTop] with layer-1 neurons 0..top (top may
// lie below the network's top index while it grows) and leaves the four
// outputs in pass.Y. Phases 2 and 3 use the per-neuron tables and keep each
// neuron's table index in the pass. With inputTop 20 the outputs get the
// bilinear base of the 21-input layout; otherwise `addBase` adds the base of
// the 37-input layout (the networks learn the residual to the bilinear 2 x 2
// block). `useBias` adds the biases after the activations. The weights are only
// read, so threads may evaluate at once with passes of their own.
void ForwardNetwork(const TNetworkWeights& net, TNetworkPass& pass, int32_t inputTop, int32_t top, bool addBase,
                    bool useBias, TNetworkPath path = NetworkPathInUse());
// The same on Network with the engine's own record NetworkPass.
void ForwardNetwork(int32_t inputTop, int32_t top, bool addBase, bool useBias);

// The 21-input two-times network without a second layer: the centre x[10] is
// taken off all 21 inputs (pass.X keeps them so), layer-1 neurons 0..top
// through the shared table without biases, the outputs as linear sums of
// layer 1 and the bilinear base of the centred inputs, so that the outputs
// include the centre value again.
void ForwardNetwork21(const TNetworkWeights& net, TNetworkPass& pass, int32_t top,
                      TNetworkPath path = NetworkPathInUse());
void ForwardNetwork21(int32_t top);
// The bilinear base of the 21-input layout alone, from the 21 inputs `x` as
// given (before a pass centres them): what ForwardNetwork21 gives, to the
// bit, when every output of the network is 0.
std::array<float, 4> NetworkBase21(const float* x);

}  // namespace astrelon
