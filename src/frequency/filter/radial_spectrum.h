#pragma once
// The radial view of a mixed-radix spectrum slot (zero frequency in row H/2):
// bin (x, y) lies at radius √((x/(W/2))² + ((y − H/2)/(H/2))²) of the
// normalised frequency plane, which K curve bins divide evenly. The frequency
// filter's spectrum is the mean amplitude per curve bin; its response and the
// gains of curve files are applied per curve bin.
#include <cstdint>
#include <vector>

#include "kernels/regions/rect_runs.h"

namespace astrelon {

// K of a spectrum of width W and height H: max(W, H) div 2.
int32_t RadialBinCount(int32_t W, int32_t H);

// The curve bin of spectrum bin (x, y): the radius times K, rounded (halves to
// even); may reach beyond K − 1.
int32_t RadialBin(int32_t x, int32_t y, int32_t W, int32_t H, int32_t K);

// The mean amplitude per curve bin 0 .. K − 1 over the listed planes of a
// spectrum slot (columns x < W/2); 0 for a bin without samples.
std::vector<double> RadialMeanSpectrum(int spectrum, const TPlaneList& planes);

// What happens to the bins of each curve bin: re and im are multiplied by
// Gain[i], held within +-FactorLimit (float_range.h) so that the inverse stays
// finite; where SetValue is given and SetValue[i] is not NaN, the bin becomes
// (SetValue[i], 0) instead. Curve bins beyond the last take the last.
struct TRadialResponse {
  std::vector<double> Gain;
  std::vector<double> SetValue;
};
void ApplyRadialResponse(int spectrum, const TPlaneList& planes, const TRadialResponse& response);

}  // namespace astrelon
