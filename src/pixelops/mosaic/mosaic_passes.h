#pragma once
// The pixel passes of the colour-mosaic conversion outside its interpolation:
// the working mosaic (black level, blank fill, white balance), the size-ratio
// offsets, the green-lattice filter, the half-size conversion, the size-ratio
// resampling, and the in-place raw correction of the dialog. Each pass runs on
// bands of rows over all cores ("Multicores" off: one); every pixel is computed
// the same way whatever the split.
#include <cstdint>
#include <span>
#include <vector>

#include "kernels/mosaic/mosaic_settings.h"

namespace astrelon {

// The numbers of the working-mosaic pass.
struct TMosaicBalance {
  double Bias = 0;
  double Rmul = 1, Bmul = 1, G1mul = 1;
  bool Multiply = false;    // method above 0: red x Rmul, blue x Bmul, other sites of even rows x G1mul
  bool NearGreens = false;  // method above 1: a blank green looks at its diagonal greens first
};

// dst := the working mosaic of src (w x h, cells by the first four of `cells`):
// a valid value less Bias; a blank one the median of the valid values of its
// colour in the nearest window (radius 1 for a green of a Bayer method, else 2,
// growing up to 5) less Bias, or 0 when there is none; then the multipliers.
// Every value is held within +-1e18. src and dst must not overlap.
void PrepareWorkingMosaic(std::span<const float> src, std::span<float> dst, int32_t w, int32_t h,
                          const TMosaicCells& cells, const TMosaicBalance& balance);

// Per column (or row) x of n the shift round((x - n/2) ratio - x + n/2), limited
// so that x + shift stays within 0..n-1.
std::vector<int32_t> SizeRatioOffsets(int32_t n, double ratio);

// Evens out the greens of the even rows against the diagonal greens (pixFilter):
// m is the working mosaic, r1 and r2 the result's first two planes; greenFirst:
// cell (0,0) is green.
void FilterGreenLattice(std::span<const float> m, std::span<float> r1, std::span<float> r2, int32_t w, int32_t h,
                        bool greenFirst);

// The half-size conversion: each 2 x 2 cell of m (w x h) gives one pixel of the
// (w/2) x (h/2) planes: red, the mean of the two greens, blue, found by `cells`.
void HalfSizeMosaic(std::span<const float> m, int32_t w, int32_t h, const TMosaicCells& cells, std::span<float> r,
                    std::span<float> g, std::span<float> b);

// Scales a plane of a slot about its centre by `ratio`, bicubic, first along the
// rows and then along the columns; positions that fall outside -0.1 .. size - 0.9
// become blank.
void ScalePlaneAboutCentre(int slot, int plane, double ratio);

// The dialog's raw correction in place: every valid pixel less Bias, then times
// Rmul where its colour holds red, else Bmul where it holds blue, else G1mul on
// the even rows (cells by the first four of `cells`), held within +-1e18.
void CorrectMosaicInPlace(std::span<float> plane, int32_t w, int32_t h, const TMosaicCells& cells,
                          const TMosaicBalance& balance);

}  // namespace astrelon
