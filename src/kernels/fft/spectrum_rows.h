#pragma once
// The row passes of spectrum images: real rows transformed two per sequence
// into the column layout (bins 0 .. N/2, real part at k, imaginary part at
// N/2 + 1 + k), and back from two Hermitian rows per sequence.
#include <cstdint>
#include <functional>
#include <span>

#include "kernels/fft/fft_plan.h"

namespace astrelon {

// Makes the N values of row r.
using TRowFill = std::function<void(int64_t row, std::span<double> line)>;

// Rows 0 .. rows − 1 of `out` (row width W) get the bins of their lines, scaled.
// The lines come from fill, or without one from the first N values of the
// row itself (in place). A last row without a partner is transformed alone.
void ForwardRealRows(float* out, int64_t W, int32_t rows, double scale, const TFftPlan& plan, int lanes,
                     const TRowFill& fill = {});

// In place: each row's bins completed to a Hermitian sequence and transformed;
// column j (j < outCols) gets point (shift + j) mod N. With `conjugate` the
// bins are conjugated first, which makes the transform the unscaled inverse;
// without, the real part of the forward transform is taken.
void InverseRealRows(float* plane, int64_t W, int32_t rows, int32_t outCols, int32_t shift, bool conjugate,
                     const TFftPlan& plan, int lanes);

}  // namespace astrelon
