#include "kernels/fft/fft_sizes.h"

#include <algorithm>
#include <cmath>

namespace astrelon {

TFftFactors FactorizeFftLength(int32_t n) {
  TFftFactors f;
  if (n < 1) return f;
  if (n == 1) {
    f.Count = 1;
    f.Radix[0] = 1;
    return f;
  }
  std::array<int32_t, 40> list{};  // 2^31 has at most 31 prime factors
  int count = 0;
  int32_t rest = n;
  bool hadEight = false;
  for (const int32_t radix : {10, 8, 5, 4, 3, 2}) {
    while (rest % radix == 0) {
      rest /= radix;
      list[size_t(count++)] = radix;
      hadEight = hadEight || radix == 8;
    }
  }
  // 8 · 2 becomes 4 · 4.
  if (count > 0 && list[size_t(count - 1)] == 2 && hadEight) {
    list[size_t(count - 1)] = 4;
    for (int i = count - 2; i >= 0; --i)
      if (list[size_t(i)] == 8) {
        list[size_t(i)] = 4;
        break;
      }
  }
  if (rest > 1) {
    const int32_t limit = int32_t(std::nearbyint(std::sqrt(double(rest)))) + 1;
    for (int32_t k = 2; k <= limit && rest > 1; ++k)
      while (rest % k == 0) {
        rest /= k;
        list[size_t(count++)] = k;
      }
    if (rest > 1) list[size_t(count++)] = rest;
  }
  if (count > MaxFftFactors) return f;
  f.Count = count;
  for (int i = 0; i < count; ++i) f.Radix[size_t(i)] = list[size_t(count - 1 - i)];
  return f;
}

namespace {

// Largest prime factor of n >= 1 (1 for n = 1).
int32_t LargestPrimeFactor(int32_t n) {
  int32_t largest = 1;
  for (int32_t p = 2; int64_t(p) * p <= n; ++p)
    while (n % p == 0) {
      n /= p;
      largest = p;
    }
  return n > 1 ? std::max(largest, n) : largest;
}

}  // namespace

bool IsGoodFftLength(int32_t n) { return n >= 1 && LargestPrimeFactor(n) <= LargestFftRadix; }

int32_t NextGoodFftSize(int32_t n, bool even) {
  int64_t k = std::max<int32_t>(n, 1);
  const int step = even ? 2 : 1;
  if (even && (k & 1)) ++k;
  for (; k <= INT32_MAX; k += step)
    if (IsGoodFftLength(int32_t(k))) return int32_t(k);
  return 0;
}

TGoodFftRun LargestGoodFftSize(int32_t n) {
  TGoodFftRun run;
  int32_t k = n;
  while (k >= 1 && !IsGoodFftLength(k)) --k;
  if (k < 1) return run;
  run.Largest = k;
  while (k > 1 && IsGoodFftLength(k - 1)) --k;
  run.RunStart = k;
  return run;
}

int32_t NextPowerOfTwo(int32_t n) {
  if (n > (int32_t(1) << 30)) return 0;
  int32_t p = 1;
  while (p < n) p <<= 1;
  return p;
}

int32_t NextPowerOfTwoOfSpan(int32_t a, int32_t b) {
  return std::max<int32_t>(NextPowerOfTwo(int32_t(std::clamp<int64_t>(int64_t(b) - a + 1, 1, INT32_MAX))), 1);
}

}  // namespace astrelon
