#pragma once
// Rounding of a float to the nearest integer, ties to even, without a library
// call: the processor's conversion in its default rounding mode, the same that
// the vector paths use. Callers keep the value within the int32 range.
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace astrelon {

inline int32_t RoundEvenToInt(float v) {
#if defined(__SSE2__)
  return _mm_cvtss_si32(_mm_set_ss(v));
#else
  return int32_t(std::nearbyint(v));
#endif
}

}  // namespace astrelon
