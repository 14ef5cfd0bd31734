#pragma once
// The "FFT" menu commands that show spectra directly: image to spectrum and
// back, the amplitude/phase conversions, the automatic 1D interference filter
// and the edge adaptation.
namespace astrelon {

// Registers the commands under their menu items' names.
void RegisterFrequencyCommands();

}  // namespace astrelon
