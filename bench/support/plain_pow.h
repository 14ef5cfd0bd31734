#pragma once
// The plain power loop of the gamma benchmarks, vectorised with the C library's
// vector pow (its file builds with -ffast-math, under which the library
// declares its vector functions).
#include <cstdint>

namespace astrelon::bench {

// v[i] := ((v[i] − black) / scale)^exponent · scale + black for every value
// above black (others stay), in the widest vectors the processor runs.
void PlainPowAbove(float* v, int64_t count, float black, float scale, float exponent);

}  // namespace astrelon::bench
