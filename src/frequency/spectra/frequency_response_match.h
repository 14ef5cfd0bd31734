#pragma once
// Matching the radial spatial-frequency response of an image to that of a
// second image through their power-of-two spectra.
#include <cstdint>
#include <vector>

namespace astrelon {

// Bin of the spectrum coefficient in row r (of M rows) and column k (of the
// N / 2 + 1 real columns): its frequency radius (1 at the Nyquist frequency of
// each axis) times size / 2, rounded; at most round(√2 · size / 2).
int32_t FrequencyBin(int64_t row, int64_t column, int32_t fftWidth, int32_t fftHeight, int32_t size);

// Per bin 0 .. round(√2 · size / 2) the mean amplitude sqrt(re² + im²) of the
// coefficients of every plane of a power-of-two spectrum slot; an empty bin
// takes the value of the bin before it. Empty when the slot is no such spectrum.
std::vector<double> RadialMeanAmplitudes(int spectrum, int32_t size);

// Scales the spectrum of `result` so that its radial mean amplitudes, relative
// to bin 0, become those of `reference`: gain (B(k) / B(0)) / (A(k) / A(0)) for
// every bin above 0 (B(0) taken as at least 0.1, A(k) as at least 1e-20), size
// being the larger side of the result. The image is replaced by the inverse
// transform. False (nothing changed) when a spectrum cannot be made; throws
// std::bad_alloc when it does not fit in memory.
bool MatchFrequencyResponse(int result, int reference);

}  // namespace astrelon
