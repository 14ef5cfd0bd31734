#pragma once
// Automatic removal of periodic horizontal interference (narrow peaks in the
// row spectra, as from electrical pick-up during read-out).
#include <cstdint>

namespace astrelon {

// The row transform of an image width: N the next power of two, Bins = N/2 + 1,
// K0 = Bins div 12 the first bin that may change.
struct TInterferenceBins {
  int32_t N = 0, Bins = 0, K0 = 0;
};
TInterferenceBins InterferenceBins(int32_t width);

// The neighbourhood k + lower .. k + upper in which bin k's local minimum is
// sought: upper = 5k div nb, kept inside the spectrum; lower −7, or back to k0
// for the first bins.
void InterferenceWindow(int32_t k, int32_t k0, int32_t nb, int32_t& lower, int32_t& upper);

// Every plane of `source` (the channel selection does not apply), row by row
// into the same plane of `destination`, which must hold an image of the
// source's size (callers pass a copy). One mean amplitude spectrum of all rows
// finds the bins that stand out above their neighbourhood by more than the
// spectrum's roughness allows; those bins of every row are pulled down to a
// running mean of the row's own spectrum. The lowest twelfth of the bins is
// never changed. Images narrower than 9 pixels are copied unchanged.
void RemoveInterference1D(int source, int destination);

}  // namespace astrelon
