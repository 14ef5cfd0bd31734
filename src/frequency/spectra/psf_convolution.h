#pragma once
// Convolution of an image with a point-spread image through power-of-two
// spectra: the PSF's centre pixel becomes the origin, its spectrum is scaled to
// a gain of 1 at zero frequency, and the image's spectrum is multiplied by it.
#include <string>

namespace astrelon {

// The source convolved with the PSF image, in a new slot with the source's
// display settings: the PSF (a copy) is cut symmetrically to at most the
// source's size, loses the median of its border pixels per plane when the "PSF
// Bilder automatisch skalieren" option is on, is centred at ((w − 1) div 2,
// (h − 1) div 2) and padded with zeros to the source's size. Zero frequency of
// its spectrum becomes 1 + 0i, the other bins are divided by p, the largest
// amplitude at bins (1, 0), (0, 1) and (0, −1). Only the planes of the source's
// channel selection are convolved; the others are copied. The new slot, or a
// value below 1 when nothing was made: no free slot, an image of 3 pixels or
// less across, or a PSF whose p is 0 (then `error` says so).
int ConvolveWithPsfImage(int source, int psf, std::string* error = nullptr);

}  // namespace astrelon
