#pragma once
// The texts of a measured star: its result row, and the magnitude difference and
// distance of a comparison star.
#include <array>
#include <string>

#include "shell/stars/star_cutout.h"

namespace astrelon {

// File name, X, Y, full width x, full width y, flux, magnitude of the locked star.
extern std::array<std::string, 7> StarResultTexts;

// Fills StarResultTexts from the cutout (image position = origin + fitted centre);
// the magnitude is -2.5 log10(flux), "-" when the flux is not positive.
void FormatStarResults(const TStarCutout& cutout);

// "rMag:" with the magnitude of `measured` minus that of `locked`, or "-" unless
// both fluxes are positive; the distance of the two centres in image pixels
// ("Abstand:" + value, empty when the magnitude is "-"). The two words are the
// info-panel labels of MainTexts.
struct TComparisonTexts {
  std::string Magnitude;
  std::string Distance;
};
TComparisonTexts CompareStars(const TStarCutout& measured, const TStarCutout& locked);

}  // namespace astrelon
