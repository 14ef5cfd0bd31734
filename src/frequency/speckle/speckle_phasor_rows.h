#pragma once
// The row loops of the speckle reconstruction that turn phases into unit
// phasors and back: the weighted phasor of every path of one step over a run
// of frequencies, amplitude and phase to real and imaginary parts, real and
// imaginary parts to amplitude and phase, and the noise cut of amplitudes. Each loop runs with 1, 4, 8 or
// 16 lanes, all giving the same bits (single-precision polynomials, no fused
// multiply-add).
#include <cstdint>
#include <span>
#include <vector>

#include "platform/simd_support.h"

namespace astrelon {

enum class TSpeckleLanes { One = 1, Four = 4, Eight = 8, Sixteen = 16 };

// The widest lanes this processor runs (One without `vector`).
TSpeckleLanes SpeckleLanes(bool vector);
// Every lane count this processor runs, One first.
std::vector<TSpeckleLanes> SpeckleLanesAvailable();

// A shift vector u as the phase sums see it: φ(u), 1 / c_u (c_u its weight,
// which may be negative), ε, and the least path weight kept.
struct TSpeckleStepConstants {
  float Phi = 0, InverseWeight = 1, Eps = 0, Least = 0;
};
TSpeckleStepConstants SpeckleStepConstants(double phi, double weight, double eps);

// The phasor of a one-step path through frequency g of vector u: with
// s = |X_u(g)| + ε (|X_u| carries the factor c_u, so s is negative with c_u
// at times), the variance c_u / s and the path weight 1 / variance, or 1e8
// where the variance is at most 1e-8 (also negative), here as s · (1 / c_u)
// kept where it lies in [0, 1e8) (in (0, 1e8) for c_u <= 0); times the unit
// phasor of φ(u) − β, β the phase of X_u(g).
// For i < count: the phasor of (amp[i], beta[i]) times the known phasor
// (tRe[i], tIm[i]) (0 for an unknown frequency) is added to (sumRe[i], sumIm[i]).
void SpecklePhasorSums(TSpeckleLanes lanes, int32_t count, const float* amp, const float* beta, const float* tRe,
                       const float* tIm, float* sumRe, float* sumIm, const TSpeckleStepConstants& k);
// The same phasors stored in (zRe[i], zIm[i]).
void SpecklePhasors(TSpeckleLanes lanes, int32_t count, const float* amp, const float* beta, float* zRe, float* zIm,
                    const TSpeckleStepConstants& k);
// A run for SpecklePhasorRuns: with TRe given, the sums of SpecklePhasorSums,
// else the phasors of SpecklePhasors.
struct TSpecklePhasorRun {
  int32_t Count = 0;
  const float *Amp = nullptr, *Beta = nullptr, *TRe = nullptr, *TIm = nullptr;
  float *Re = nullptr, *Im = nullptr;
  const TSpeckleStepConstants* K = nullptr;
};
// The runs one after the other (the same bits as one call each), the runs
// further on asked for from memory meanwhile.
void SpecklePhasorRuns(TSpeckleLanes lanes, std::span<const TSpecklePhasorRun> runs);

// One path's phasor as the loops above make it (zRe, zIm).
void SpecklePhasor(float amp, float beta, const TSpeckleStepConstants& k, float& zRe, float& zIm);

// cos and sin of one angle as the loops compute them.
void SpeckleCosSin(float angle, float& c, float& s);

// The angle of (x, y) as the loops compute it.
float SpeckleAtan2(float y, float x);

// (re[i], im[i]) to (amplitude, phase) for i < count, the amplitudes added to
// sum[i mod 16] and, from outerFrom on, to outer[i mod 16].
void SpeckleCartesianToPolar(TSpeckleLanes lanes, int32_t count, float* re, float* im, int32_t outerFrom,
                             TSumLanes& sum, TSumLanes& outer);

// (amplitude, phase) in (re[i], im[i]) to (amplitude·cos, amplitude·sin).
void SpecklePolarToCartesian(TSpeckleLanes lanes, int32_t count, float* re, float* im);

// The noise cut and radial factor of a row of amplitudes: a[i] becomes
// max(a[i] − cut, 0) · w for i < cutCount (std::max's pick: −0 and a NaN
// stay) and a[i] · w for cutCount <= i < count.
void SpeckleCutAndWeigh(TSpeckleLanes lanes, int32_t count, int32_t cutCount, float* a, float cut, float w);

}  // namespace astrelon
