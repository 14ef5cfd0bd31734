#pragma once
// The wavelet noise filter as a batch step: the whole image of the destination
// filtered with the settings of a ".wvl" file.
#include <string>

namespace astrelon {

enum class TWaveletRun { Done, Missing, Refused, Aborted };

// Reads the file (a missing one changes nothing: Missing; a refused one sets
// `error`: Refused), clears the abort flag, builds a four-level pyramid of the
// source over the destination's whole image and, for every selected plane of the
// destination, filters and rebuilds it, each step only while the abort flag is
// down. Pyramid set 0 stays built.
TWaveletRun ApplyWaveletFilter(int source, int destination, const std::string& fileName, std::string* error = nullptr);

}  // namespace astrelon
