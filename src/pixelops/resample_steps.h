#pragma once
// The steps of ResampleImage, each turning one plane into a new plane of the
// step's size: integer blocks, the fractional box, the anti-moiré low-pass and
// the interpolation along one axis. Rows (or output rows) run in bands on all
// cores; every output value is computed the same way whatever the split.
#include <cstddef>
#include <cstdint>

#include "store/image_slot.h"
#include "store/planes/interpolation_kernels.h"

namespace astrelon {

enum class TResampleAxis { X, Y };

// Worker threads for a step writing `pixels` values ("Multicores" off: one).
int ResampleThreads(int64_t pixels);

// Groups of `factor` consecutive samples along the axis become the mean of their
// valid ones (blank when none is valid); that side shrinks to its length div factor.
TPlane BlockMeans(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t factor);

// Output pixel (i, r) of nw x nh averages the source box [i sx, (i+1) sx) x
// [r sy, (r+1) sy), the box edges accumulated in float by repeated addition and
// edge pixels weighted by their share; blank where no valid pixel lies.
TPlane BoxMeans(const TPlane& src, int32_t w, int32_t h, float sx, float sy, int32_t nw, int32_t nh);

// Low-pass reduction along the axis to n samples at factor ratio (< 1): the
// kernel of the kind stretched by 1 / ratio; dSinc falls back to the cubic near
// isolated jumps.
TPlane AntiMoireAxis(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t n, double ratio,
                     const TSamplingKind& k);

// Interpolation along the axis to n samples at factor ratio: the one-dimensional
// samplers for kinds 0, 2 and 4, the network for kind 1 and, for dSinc, a per
// pixel choice of dSinc, the soft cubic or the bicubic kernel.
TPlane InterpolateAxis(const TPlane& src, int32_t w, int32_t h, TResampleAxis axis, int32_t n, double ratio,
                       int32_t kind);

// out[x] (x < n) = weighted mean of the valid src[(first + t) * rowStride + x],
// t < count, summed in double in tap order; blank when the weight sum is
// minWeight or less. The vector paths give the scalar path's values bit for bit.
void WeightedRowMeans(const float* src, size_t rowStride, int32_t first, int32_t count, const float* weights,
                      double minWeight, float* out, int32_t n, bool vector);

}  // namespace astrelon
