#pragma once
// The values of a noise field, drawn in blocks of 4096 that depend only on the
// field's seed and the block's number, so that any stretch of the field can be
// drawn on its own, on any thread. Each block has eight generator lanes of its
// own (value j of a block from lane j mod 8); a block of normal noise first
// fills its own Gauss table (2000 normal draws, Box–Muller) and then draws a
// random index 0 .. 1998 into it for every value.
#include <cstdint>
#include <span>

namespace astrelon {

constexpr int64_t NoiseBlockValues = 4096;

// Values first .. first + out.size() − 1 of the field of `seed`: with `gauss`
// a table value times amount, otherwise (u − 0.5) · amount · √12 for a uniform
// u in [0, 1). `vector` takes the eight-lane path where the processor has it
// (normal noise two blocks at once in sixteen lanes with AVX-512); all paths
// give the same values.
void DrawNoise(uint64_t seed, bool gauss, double amount, int64_t first, std::span<float> out, bool vector);

}  // namespace astrelon
