#pragma once
// Transform lengths: factor lists of the mixed-radix engine, the good lengths
// (largest prime factor at most 37) and powers of two.
#include <array>
#include <cstdint>

namespace astrelon {

// Largest prime factor the mixed-radix engine transforms.
inline constexpr int32_t LargestFftRadix = 37;
inline constexpr int MaxFftFactors = 19;

// Radices of a length in pass order: the largest prime found last comes first,
// radix-10 factors come last (1000 gives 10, 10, 10; 16 gives 4, 4; 70 gives 7, 10).
struct TFftFactors {
  int32_t Count = 0;
  std::array<int32_t, MaxFftFactors> Radix{};
};

// Splits n (>= 1) into radices 10, 8, 5, 4, 3, 2 and what trial division leaves.
// Count is 0 when n < 1 or the list would not fit.
TFftFactors FactorizeFftLength(int32_t n);

// Whether the engine transforms length n: n >= 1 and its first factor (its
// largest prime) is at most 37.
bool IsGoodFftLength(int32_t n);

// The smallest good length >= n; with `even` the length is made even first and
// the search steps by 2. 0 when no good length fits in 32 bits.
int32_t NextGoodFftSize(int32_t n, bool even);

// The largest good length <= n and the smallest length of the unbroken run of
// good lengths that ends there (both 0 for n < 1).
struct TGoodFftRun {
  int32_t Largest = 0;
  int32_t RunStart = 0;
};
TGoodFftRun LargestGoodFftSize(int32_t n);

// The next power of two >= n (1 for n < 2; 0 beyond 2^30).
int32_t NextPowerOfTwo(int32_t n);
// The next power of two of b - a + 1, at least 1.
int32_t NextPowerOfTwoOfSpan(int32_t a, int32_t b);

}  // namespace astrelon
