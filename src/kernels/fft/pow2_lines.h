#pragma once
// The line of a power-of-two transform made from an image row or column of any
// length: blank (and, along rows, too bright) samples hold the last accepted
// value, the gap up to the power of two runs from the line's end back to its
// start along the taper table, and the line starts at an offset (cyclic shift).
#include <cstdint>
#include <span>

namespace astrelon {

// out (N values, N = taper.size() + n − 1 at least n) from the n samples of a
// line at `stride`, starting at sample `start` (0 .. n − 1; the first `start`
// samples follow after the tail). Samples that are blank or above `clip` take
// the last accepted value (0 before the first); the first `start` samples are
// tested only for blanks. Start value: sample 0 (the first accepted sample when
// it is blank); end value: the mean of the last five (or fewer) samples placed
// before the tail; tail j: start + (end − start)·taper[j], or 0 with zeroFill.
void PreparePow2Line(const float* line, int64_t stride, int32_t n, int32_t start, float clip, bool zeroFill,
                     std::span<const double> taper, std::span<double> out);

}  // namespace astrelon
