#pragma once
// Applying frequency-response curve files to spectra and images without the
// dialog (the batch does so too): the file's gains, resampled to the radial
// bins of the spectrum, multiply every bin of the selected planes.
#include <span>
#include <string>

namespace astrelon {

// Multiplies re and im of every bin of the spectrum's selected planes by the
// gains resampled (ResampleLine, the program's interpolation kind) to
// K = max(width/2, height/2) radial bins.
void MultiplyFftByCurveGains(int spectrum, std::span<const double> gains);

// MultiplyFftByCurveGains with a file's gains. Nothing happens when the slot is
// not in use or the file is missing or refused (then `error` says why). True
// when the spectrum was multiplied.
bool MultiplyFftByCurveFile(int spectrum, const std::string& fileName, std::string* error = nullptr);

// The file applied to an image slot in place: its spectrum (inner margin 2,
// the outer margin setting) multiplied by the file's gains and transformed
// back into the selected planes (blank pixels come back filled, the edges
// blended). Nothing changes when the file is missing or refused or the image
// cannot be transformed; true when the slot was filtered.
bool ApplyFrequencyCurveFile(int slot, const std::string& fileName, std::string* error = nullptr);

}  // namespace astrelon
