#pragma once
// The "Stärke" blend of a deconvolution: the correction d = result − source
// applied between linearly and quadratically.
#include <atomic>
#include <cstdint>

namespace astrelon {

// For each selected channel of `source` and every pixel with a valid source
// value v and a valid difference d (slot `difference`, made as result minus
// source): destination = v + d·((1 − s) + s·|d|/R), s = position/30 (0..30)
// and R = (white − black)/2 of the source's display record, at least 1.
// Other pixels keep the destination's value. Rows run in bands; the calling
// thread processes pending messages after each of its rows, and every band
// stops at the next row once `stop` is set. False when stopped or when the
// three images differ in size (nothing changed then).
bool MixDeconvolutionResult(int source, int destination, int difference, int32_t position,
                            const std::atomic<bool>& stop);

}  // namespace astrelon
