#pragma once
// The atmosphere's frequency response that a speckle reconstruction is
// multiplied by ("Frequenzgang anpassen:"): a radial gain over the spectrum,
// set by the finest resolution a in pixels and the ratio b = D/r0.
#include <array>
#include <cstdint>

namespace astrelon {

struct TSpeckleResponse {
  double A = 1.1, B = 2.0;          // clamped to 0.1..15 and 0.1..255
  bool AClamped = false, BClamped = false;
};

// The values clamped (NaN counts as the lower end).
TSpeckleResponse ClampSpeckleResponse(double a, double b);

// T[i] at ρ = i·a/1023: 0 for ρ >= 1, else (1 − G)(1 + q)/(√(E² + L⁴) + q)
// with q = (3.3/b + 1)/b, L = exp(−3.44((b + 1)ρ/2)^(5/3)), E = exp(−2.5b(1 − ρ/2)),
// G = exp((ρ − 1)·50/a).
std::array<double, 1024> SpeckleResponseTable(double a, double b);

// destination = source × the gain at each frequency's radius r (r² =
// (x/(W/2))² + ((y − H/2)/(H/2))²; T interpolated at r·1023, T[1023] from
// r = 1 on), every plane. False (nothing written) unless both are spectrum
// slots of the same size.
bool AdjustSpeckleFrequencyResponse(int source, int destination, const TSpeckleResponse& response);

}  // namespace astrelon
