#pragma once
// A synthetic test of the star measurement: a Gaussian star of a given width at
// a fractional pixel position is drawn at brightness factors 10^(0.1 k),
// k = 2..40, measured, and the true and measured magnitudes are plotted.
#include <cstdint>
#include <vector>

namespace astrelon {

struct TMagnitudeTestSettings {
  double StarRadius = 2.0;   // width of the Gaussian star ("Sternradius")
  double Subpixel = 0.5;     // position within the pixel (its fractional part is used)
  bool LowPass = false;      // "1:Tiefpass": the star image low-passed first
  double Frequency = 0.5;    // cut-off of that low pass ("Frequenz")
};

struct TMagnitudePoint {
  int32_t K = 0;
  double True = 0, Measured = 0;  // -2.5 log10(flux); the measured one 0 when no star was found
};

constexpr int32_t MagnitudeTestWidth = 200, MagnitudeTestHeight = 120;

// Writes the 200 x 120 one-plane plot "Mag-Test.png" into the free slot
// `plotSlot` (display range -10000..20000): the upper 60 rows show in column k
// the star's vertical profile through its centre, the lower rows 62..119 mark
// the true (20000) and the measured (-10000) magnitude in column k. The stars
// are drawn and measured in another free slot (a 64 x 64 grey image), freed
// again at the end. False, with both slots free, when either could not be made.
bool MakeMagnitudeTest(int plotSlot, const TMagnitudeTestSettings& settings,
                       std::vector<TMagnitudePoint>* points = nullptr);

}  // namespace astrelon
