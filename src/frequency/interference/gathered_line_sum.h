#pragma once
// The sum of the values along a digital line, gathered eight steps at a time
// and added in no particular order, with the test that tells when that order does
// not matter: the values are non-negative floats, so when their sum stays
// below 2^53 units of the last place of the smallest non-zero one, every
// partial sum in any order is exact, and so is every other order's result.
#include <cstdint>
#include <span>

namespace astrelon {

// Steps From .. To (From >= 1) of a line whose step s lies at
// Base[s · Along + m(s) · Side] (Along +1 or −1), m(s) = floor((2 s P + Q − 1) / (2 Q)) the
// sideways offset of a line that moves sideways when its running share of P/Q
// a step exceeds 0.5 (0 <= P <= Q).
struct TLineStretch {
  const float* Base;
  int32_t Along, Side, From, To;
};

// Adds the stretches' values into `sum` and returns true when the sum is exact
// (then any order of adding them gives it); false (sum undefined) otherwise,
// or when the processor has no AVX2. Every step's value must lie in memory;
// the sideways offsets stay below 2^31. Sixteen steps at a time where the
// processor has AVX-512 and `lanes` allows, else eight.
bool GatheredLineSum(std::span<const TLineStretch> stretches, uint32_t p, uint32_t q, double& sum, int lanes = 16);

}  // namespace astrelon
