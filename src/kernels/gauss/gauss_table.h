#pragma once
// The table of standard-normal random values that the noise tools draw from,
// and the small random generator that fills it.
#include <array>
#include <cstdint>

namespace astrelon {

// A fast generator (xoshiro256+) whose state comes from one 64-bit seed, so that
// a stream of values can be repeated and split into independent blocks.
class TNoiseRandom {
public:
  explicit TNoiseRandom(uint64_t seed);
  uint64_t Next();
  // Uniform in [0, 1) with 53 random bits.
  double Uniform() { return double(Next() >> 11) * 0x1.0p-53; }
  // Uniform integer in 0 .. n − 1.
  uint32_t Below(uint32_t n) { return uint32_t(((Next() >> 32) * uint64_t(n)) >> 32); }

private:
  std::array<uint64_t, 4> s_{};
};

// A seed for a fresh noise computation (different on every call).
uint64_t NewNoiseSeed();
// One 64-bit value from another by the SplitMix64 step: seeds of blocks.
uint64_t MixSeed(uint64_t x);

// 2000 draws of the standard normal distribution (mean 0, standard deviation 1).
constexpr int GaussTableSize = 2000;
using TGaussTable = std::array<float, GaussTableSize>;
// Refills the table with fresh draws from `random`.
void FillGaussTable(TGaussTable& table, TNoiseRandom& random);

}  // namespace astrelon
