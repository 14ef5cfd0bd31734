#pragma once
// Fourier deconvolution of an image with a point-spread image: the image's
// spectrum divided by the PSF's spectrum with a noise term, then transformed
// back into the image.
#include <cstdint>

namespace astrelon {

// The text of the progress bar, the caption of the dialog and of its "HISTORY " card.
inline constexpr const char* DeconvolutionCaption = " Deconvolution";

// Replaces the selected channels of `destination` with their deconvolution
// by the PSF image in slot `psf` (its plane p for channel p when it is a colour
// image, else its plane 1), noise below 0.001 taken as 0.001. The image is
// transformed with inner margin 0 and the outer margin of the settings; the
// PSF is copied first (less its border median while "PSF Bilder automatisch
// skalieren" is on), so closing its window meanwhile changes nothing. Between
// the stages pending messages are processed and the progress (0, 10, 40 and
// 65 %) shows in the destination's window under "Deconvolution"; the abort
// flag stops there, leaving the destination as it was. `source` is not used.
// False when nothing was changed (no PSF or one of zeros only, no free slot, aborted, an image too
// small to transform); std::bad_alloc (nothing changed) when it does not fit
// in memory.
bool DeconvolutionBerechnen(int source, int destination, int psf, double noise);

}  // namespace astrelon
