#pragma once
// The parametric equaliser of the frequency filter: a band filter ("Band") of
// a gain in dB around a centre frequency, or a low pass ("Tief") or its inverse
// ("invTief") of a slope in dB per octave, applied to the base curve.
#include <cstdint>
#include <span>

namespace astrelon {

enum class TEqualiserPass { Band, Low, InverseLow };

struct TEqualiser {
  TEqualiserPass Pass = TEqualiserPass::Band;
  double Frequency = 0.5;  // "Frequenz": the centre or corner as a fraction of the bins
  double Value = -4.0;     // "Amplitude" in dB (Band) or "dB/Oktave"
  double Quality = 2.0;    // "Güte"
};

// The factor of bin i of K: x = i/((K − 1)·f0) with f0 and Q at least 0.01 and
// K − 1 at least 1. Band: h = 1/√(((x − 1/x)·Q)² + 1) (0 at x = 0),
// g = h·(10^(|d|/20) − 1) + 1, the factor g for d ≥ 0 and 1/g below. Low passes:
// s = d/12.12, g = √((x^(2s) − 1)² + (x^s/Q)²) (1 at x = 0), "Tief" 1/g,
// "invTief" g.
double EqualiserFactor(const TEqualiser& eq, int32_t i, int32_t K);

// out[i] = base[i] times the factor of bin i (out and base of the same length).
void EqualiseCurve(std::span<const double> base, std::span<double> out, const TEqualiser& eq);

// The text fields a pass starts from: "-4.0" and "2.0" for Band, "20.0" and "0.70" otherwise.
struct TEqualiserDefaults {
  const char* Value;
  const char* Quality;
};
TEqualiserDefaults EqualiserDefaults(TEqualiserPass pass);

// The range of the second value: −40 .. 40 for Band, 0 .. 80 otherwise.
void EqualiserValueRange(TEqualiserPass pass, double& low, double& high);

}  // namespace astrelon
