#pragma once
// 2D spectra of images in image slots (mixed-radix family): the forward
// transform pads the image (AdaptFftEdges) and writes a spectrum slot of
// (N + 2) × M values, zero vertical frequency in row M/2, scaled by 1/(N·M);
// the inverse restores the recorded image size and applies no scaling.
#include <cstdint>

#include "kernels/fft/spectrum_slots.h"

namespace astrelon {

// The spectrum of every plane of `source` in the lowest free slot: the new
// slot, or a value below 1 when no slot is free or the source is not usable
// (nothing changed then). std::bad_alloc (nothing changed) when it does not fit in memory.
int ImageToFft2D(int source, int32_t inner, int32_t outer);

// The image of a spectrum slot in `destination` (below 1: the lowest free
// slot) for the planes of the spectrum's channel selection; the other planes
// get the spectrum's top-left corner. The destination slot, or −1 when no slot
// is free or the spectrum is not one of (N + 2) × M for the recorded size and
// this outer margin (nothing written then). A recorded size of 3 or less in
// either direction returns `destination` unchanged and writes nothing.
int FftToImage2D(int spectrum, int destination, int32_t outer);

// The setting "2D FFT äußerer Rand zur Artefaktreduzierung:" (default 8), the
// outer margin of the frequency filter, the curve files and the spectrum mix.
int32_t FftOuterMarginSetting();

// The layout a spectrum slot must have for its recorded size and an outer margin.
TFftImage MixedRadixLayout(int32_t fftWidth, int32_t fftHeight, int32_t outer);

}  // namespace astrelon
