#pragma once
// The division of an image spectrum by the spectrum of a point-spread
// function, with a noise term that keeps it stable (a Wiener-type filter).
#include <cstdint>

#include "frequency/deconvolution/deconvolution_psf.h"

namespace astrelon {

// The gain constants of one plane: with the noise n, the centre peak P (bin
// (0, 0) left out, at least 1e-30), the corner power C and r = √(C/P) (at
// least 1e-30): K = n·r·500 rounded to a float, G = K + 1.
struct TDeconvolutionGain {
  double K = 0, G = 1;
};
TDeconvolutionGain DeconvolutionGain(int spectrum, int plane, double noise);

// Plane `plane` of a mixed-radix spectrum slot of width Nx + 2 and height Ny
// deconvolved by plane `psfPlane` of the PSF's row spectra: each column k of
// those, its kept rows placed circularly so that the centre row goes to point
// 0 (zeros elsewhere) and scaled by 1/Ny, is transformed into H; with Pm the
// largest of |H(0)|², |H(1)|², |H(Ny − 1)|² in column 0 (at least 1e-15),
// K := K·Pm and G := G·√Pm, and every bin F becomes F·conj(H)·G/(|H|² + K),
// which leaves a bin whose |H|² is Pm unchanged. False (nothing changed) when
// the widths differ or either plane is missing.
bool DeconvolveSpectrumPlane(int spectrum, int plane, const TPsfRowSpectra& psf, int psfPlane, double noise);

}  // namespace astrelon
