#pragma once
// "Pixel als Grauwert (RGB Gammakorrektur)": a gamma per colour plane that takes
// the picked colour to a grey of its luma on the display's scale.
#include <array>

#include "store/display/display_record.h"

namespace astrelon {

struct TGreyGamma {
  double Black = 0;                  // the display's black point B
  double Scale = 1;                  // White - B, at least 0.001
  std::array<double, 3> Exponent{};  // per plane
};

// With k_i = (c_i - B) / S clamped to 0.01..0.99 and the luma L = 0.3 k_R +
// 0.59 k_G + 0.11 k_B clamped to 0.05..0.95: exponent e_i = ln L / ln k_i.
TGreyGamma GreyGammaFor(const TDisplayRecord& display, double r, double g, double b);

// Every valid pixel p > B of planes 1..3 becomes ((p - B) / S)^e x S + B in
// double (the division as a product with 1 / S), rounded to float once. Both
// paths give the same bits.
void ApplyGreyGamma(int slot, const TGreyGamma& gamma);
void ApplyGreyGamma(int slot, const TGreyGamma& gamma, bool vector);

// The power x^e (x > 0) as ApplyGreyGamma takes it, for tests.
double GreyGammaPower(double x, double e);

}  // namespace astrelon
