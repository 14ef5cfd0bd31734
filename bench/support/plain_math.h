#pragma once
// The plain loops of the benchmarks that need the C library's maths, vectorised
// with its vector functions (pow, sin, cos, atan2): their file builds with
// -ffast-math, under which the library declares them.
#include <cstddef>
#include <cstdint>

namespace astrelon::bench {

// v[i] := ((v[i] − black) / scale)^exponent · scale + black for every value
// above black (others stay), in the widest vectors the processor runs.
void PlainPowAbove(float* v, int64_t count, float black, float scale, float exponent);

// The weighted unit phasors of n terms: sumCos += Σ w_i cos(phase_i) and
// sumSin += Σ w_i sin(phase_i) with w_i = 1 / variance_i (1e8 for a variance of
// at most 1e-8).
void PlainPhasorSum(const double* phase, const double* variance, size_t n, double& sumCos, double& sumSin);

// n complex values (re, im) to amplitude (into re) and phase (into im), and back.
void PlainToPolar(float* re, float* im, size_t n);
void PlainToCartesian(float* re, float* im, size_t n);

}  // namespace astrelon::bench
