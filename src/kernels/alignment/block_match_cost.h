#pragma once
// The cost of one placement of a reference block on a second image: the
// variance of the pixel differences over the pairs in which both pixels are
// valid, so that a brightness offset between the images does not matter.
#include <cstdint>
#include <span>

namespace astrelon {

// Cost of a cell without any pair of valid pixels (never wins).
constexpr float NoBlockMatchCost = 1e18f;

// `ref` holds the w x h reference block row by row; `second` starts at the
// block's top-left pixel in the second image, rows `stride` values apart.
// Returns sum((b - a - d)^2) / n with d = sum(b - a) / n over the n valid pairs,
// or NoBlockMatchCost when n = 0. The vector path sums groups of columns in
// single precision (each row's sums then added in double) in one pass over the
// differences less an estimate of d; it equals the plain path up to float
// rounding.
double BlockMatchCost(std::span<const float> ref, int32_t w, int32_t h, std::span<const float> second,
                      int64_t stride, bool vector);

// The costs of two neighbouring placements, the block at `second` (left) and
// one column to the right (right), each as BlockMatchCost gives it; on
// processors with AVX-512 both in one pass, the two side by side in the halves
// of the vectors.
void BlockMatchCostPair(std::span<const float> ref, int32_t w, int32_t h, std::span<const float> second,
                        int64_t stride, bool vector, double& left, double& right);

}  // namespace astrelon
