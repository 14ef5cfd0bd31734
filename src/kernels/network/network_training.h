#pragma once
// Backpropagation on the network in memory: one step after a forward pass on
// the engine's own record, in the three training phases.
#include <array>
#include <cstdint>

#include "kernels/network/network_forward.h"

namespace astrelon {

// One step on Network after ForwardNetwork(inputTop, top, ...) with the targets
// in Network.T: output errors, layer-2 and layer-1 deltas and, by phase, the
// weights (phase 1, each step limited to [-1, 1]), the layer-1 tables (phase
// 2) or the layer-2 tables (phase 3) around the kept indices. `useBias` also
// trains the biases in phase 1. Networks of fewer than 5 inputs learn with a
// fifth of the rate in phases 2 and 3; Network.Rate stays as it was.
void TrainStep(int32_t inputTop, int32_t top, bool useBias, TNetworkPath path = NetworkPathInUse());

// The step of the 21-input network after ForwardNetwork21(top): output errors,
// layer-1 deltas, the output weights (the weights themselves kept within
// [-1, 1]) and the layer-1 weights of inputs 0..20.
void TrainStepSimple(int32_t top, TNetworkPath path = NetworkPathInUse());

// The update window of half-width w clamped to 0..10, centred at index 10:
// G[0] = 1 for w = 0, else G[u] = exp(-(u / (w / (0.0732 w + 1)))^2) / sqrt(w)
// for u = -w..w, 0 elsewhere.
using TUpdateWindow = std::array<float, 2 * NetworkMaxUpdateHalfWidth + 1>;
TUpdateWindow MakeUpdateWindow(int32_t w);

// Sets Network's update half-width to w clamped to 0..10 and its window: G[0]
// = 1 for w = 0, else G[u] = exp(-(u / (w / (0.0732 w + 1)))^2) / sqrt(w) for
// u = -w..w.
void BuildTableUpdateWindow(int32_t w);

}  // namespace astrelon
