#pragma once
// Routines on a one-plane colour-mosaic image (a camera RAW frame kept as its
// mosaic): which checkerboard class of pixels carries green (the mosaic phase),
// the repair of pixels clipped at the sensor's saturation level, and a robust
// fit of a smooth curve to the difference of two rows.
//
// Mosaic phase: 0 when green lies on the pixels with x + y even, 1 when on
// x + y odd, -1 undecided or not a mosaic, -2 filter code not a known Bayer code.
#include <cstdint>
#include <span>

namespace astrelon {

// a = mean of |M(x+1, y+1) - M(x, y)| over the pixels with x + y even, b the
// same over x + y odd (plane 1; blank pixels are left out; 0 when nothing counted).
void MeasureMosaicPhase(int slot, double& a, double& b);
// MeasureMosaicPhase's sums and counts of the two classes, added in any order
// (lanes, bands of rows): their rounding differs from the measure's own order.
struct TMosaicPhaseSums {
  double Sum[2] = {0, 0};
  int64_t Count[2] = {0, 0};
};
// Adds the pairs of row y (`width` values) with the row after it; the vector
// path where the processor has it.
void AddMosaicPhaseRow(const float* row, const float* next, int32_t width, int32_t y, TMosaicPhaseSums& sums,
                       bool vector);
// DetectMosaicPhase's measured decision (1, 0 or -1) from such sums when no
// order of adding could change it, else -3 (then measure in order).
int MosaicPhaseFromSums(const TMosaicPhaseSums& sums);
// Phase from the camera RAW filter code: 1, 0, -2 for an unknown code, -1 for a colour image.
int FilterCodeToPhase(int slot);
// The filter code with the second green (colour 3, as the decoder reports it
// for some cameras) written as green (1), so that it compares with the four
// Bayer codes.
uint32_t ThreeColorFilterCode(uint32_t code);
// Filter-code phase when known, else measured: 1 when a > 1.5 b, 0 when b > 1.5 a, else -1.
int DetectMosaicPhase(int slot);
// Always 0 or 1: the filter-code phase when known, else 1 when a > b, otherwise 0.
int DecideMosaicPhase(int slot);
// Repairs the clipped pixels of a one-plane mosaic in place from the smooth
// course of their neighbours (phase -1 = decide it). Colour images and images
// without a clipping level found for all three colour sites are left alone.
// Returns whether any pixel value changed.
bool RepairClippedMosaic(int slot, int phase);

// Coefficients of c0 + c1 i + c2 i^2 fitted to A(i) - B(i), i = 0..n-1 (n = the
// shorter row), by a search that step by step narrows the residuals it counts,
// so that outliers drop out. A blank entry takes the mean of the entry before
// it and the next valid one. n <= 2, or no valid entry, gives zeros.
void FitQuadraticToRowDifference(std::span<const float> a, std::span<const float> b, double& c0, double& c1,
                                 double& c2);

}  // namespace astrelon
