#pragma once
// Turning a training sample: the network's inputs rotated by quarter turns and
// mirrored, the four targets of the 2 x 2 block likewise, and the outputs
// back, so that one sample also teaches the turned versions of the image.
#include <array>
#include <cstdint>

namespace astrelon {

// Rotates the input vector x[0..N] `rotation` (0..3) quarter turns, then
// mirrors it: 1 left-right, 2 top-bottom. The 37-input disc and, for 61
// inputs, the 24 regions move; other inputs (the planes of 41 inputs) stay.
void PermuteNetworkInputs(int32_t N, int rotation, int mirror, float* x);

// The four block values (0 top-left, 1 top-right, 2 bottom-left, 3
// bottom-right) turned as the inputs: rotation first, then the mirror.
void PermuteTargets(int rotation, int mirror, std::array<float, 4>& t);
// The outputs of a turned sample back in the image's orientation: the mirror
// undone first, then the rotation.
void UnpermuteOutputs(int rotation, int mirror, std::array<float, 4>& y);

}  // namespace astrelon
