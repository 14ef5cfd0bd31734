#pragma once
// Separable low pass with a windowed sinc (a sinc windowed by a sinc `a` times
// wider) and a sub-pixel shift, along the rows or down the columns of a slot.
#include <cstdint>
#include <span>
#include <vector>

namespace astrelon {

// The parameters within their limits: cut-off 0.01..4, steepness 1..10, shift −1..1.
struct TLowPass2Parameters {
  double CutOff = 0.5;
  double Steepness = 2.0;
  double Shift = 0.0;
};
TLowPass2Parameters LimitLowPass2Parameters(const TLowPass2Parameters& p);

// Taps i = −n .. n (index i + n) with a = steepness / cut-off, n = trunc(a) + 1
// (at most 15), x = π (i + shift) cut-off and weight 1 at x = 0, else
// (sin x / x) · sin(x / a) · a / x. The parameters are limited first.
std::vector<float> LowPass2Kernel(const TLowPass2Parameters& p);

// One line of `count` values `step` apart, in place: each valid value becomes
// Σ w·v / Σ w over the valid values under the kernel inside the line; blank
// values stay blank, and a value whose weights sum to 0 or less is kept.
// `scratch` is resized as needed; `vector` takes the four- or eight-wide loops,
// which give the bits of the scalar one.
void LowPass2Line(std::span<const float> kernel, float* line, int64_t count, std::vector<float>& scratch,
                  bool vector);

// Every plane of the slot filtered in place along its rows (alongRows) or down
// its columns; rows run on all cores with the same result.
void ApplyLowPass2(int slot, bool alongRows, double shift, double steepness, double cutOff);
// The same with the vector loops switched on or off (tests and benchmarks).
void ApplyLowPass2(int slot, bool alongRows, double shift, double steepness, double cutOff, bool vector);
// One w x h plane of the caller's (no slot holds it), likewise.
void ApplyLowPass2Plane(std::span<float> plane, int64_t w, int64_t h, bool alongRows, double shift, double steepness,
                        double cutOff, bool vector);

}  // namespace astrelon
