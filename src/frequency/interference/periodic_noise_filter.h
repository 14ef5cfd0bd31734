#pragma once
// Automatic removal of periodic interference (stripes, moiré, pick-up) in the
// 2D spectrum: coefficients that stand out of their ring of spatial frequency
// are lowered toward a reference taken along a short line of their neighbours.
namespace astrelon {

// k below 0.2 acts as 0.2, above 15.9 as 15.9.
double ClampPeriodicNoiseK(double k);
// The k that the menu and the batch use: the setting "2D FFT Autostörfilter: Sigma".
double StoredPeriodicNoiseK();

// The filter's own passes on a spectrum slot of the mixed-radix layout, in
// place, on the planes of its channel selection: false (nothing changed) when
// the slot is not in use or smaller than 8 × 8.
bool FilterPeriodicNoiseSpectrum(int spectrum, double k);

// The filtered image of `source` in a new slot (the planes outside its channel
// selection are copies), or -1 when there is no free slot or the spectrum would be smaller
// than 8 × 8; the spectrum slot it works in is always freed. std::bad_alloc
// (nothing left behind) when it does not fit in memory.
int FilterPeriodicNoiseFft(int source, double k);

}  // namespace astrelon
