#pragma once
// The "FFT" menu commands that filter or mix images through their spectra:
// the 1D and 2D frequency filters, convolution with a PSF image, "FFT Morph"
// and the relief view "3D-Darstellung".
namespace astrelon {

// Registers the commands under their menu items' names.
void RegisterFrequencyFilterCommands();

}  // namespace astrelon
