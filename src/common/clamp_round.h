#pragma once
// A real number rounded to a whole number within a fixed range, for values that
// index or scale pixels and may be out of any sensible range.
#include <cstdint>

namespace astrelon {

// `value` rounded to the nearest integer (halves to even) and clamped to
// -10 000 000 .. 10 000 000; NaN gives 0.
int32_t ClampRoundToInt(double value);

}  // namespace astrelon
