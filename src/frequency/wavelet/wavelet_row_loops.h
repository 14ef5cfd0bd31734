#pragma once
// The row loops of the pyramid's expansion for rows whose inputs are all valid,
// with a four-lane vector path and its scalar twin (the same operations lane by
// lane, hence the same numbers). The divisions by powers of two are
// multiplications by their exact inverses: the same numbers again.
#include <cstdint>

namespace astrelon {

// Whether every value is valid (above -1e9; NaN is not).
bool AllValid(const float* v, int32_t n, bool vector);

// out[x] = ((a[x] + 6 h[x]) + b[x]) / 8.
void ExpandEvenColumns(const float* a, const float* h, const float* b, float* out, int32_t n, bool vector);
// out[x] = (h[x] + b[x]) / 2.
void ExpandOddColumns(const float* h, const float* b, float* out, int32_t n, bool vector);

// What becomes of an expanded value e and the detail value d of its pixel.
enum class TDetailStep {
  Store,     // out := e
  Add,       // out := d x gain + e where both are valid, else d
  Subtract,  // out := d - e where both are valid, else d
};

// The expanded values e[2i] = ((s[i-1] + 6 s[i]) + s[i+1]) / 8 and
// e[2i+1] = (s[i] + s[i+1]) / 2 for i = 1 .. n - 2 of a row of valid samples,
// each taken into out[2i], out[2i+1] with the detail as `step` says (`out` may be d).
void ExpandRowInterior(const float* s, int32_t n, const float* d, float* out, TDetailStep step, float gain,
                       bool vector);
// out[x] from e[x] and d[x] as `step` says, for x = 0 .. n - 1 (`out` may be d).
void CombineWithDetail(const float* d, const float* e, float* out, int32_t n, TDetailStep step, float gain,
                       bool vector);

}  // namespace astrelon
