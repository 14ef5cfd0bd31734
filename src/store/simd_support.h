#pragma once
// Shared pieces of the scalar and SSE2 loops: the SSE2 intrinsics when the
// compiler targets them, the rectangle check and the fixed lane order of double
// sums that makes both paths add in the same order.
#include <array>
#include <cstdint>
#include <stdexcept>

#if defined(__SSE2__)
#include <emmintrin.h>
#define ASTRELON_HAVE_SSE2 1
#else
#define ASTRELON_HAVE_SSE2 0
#endif

namespace astrelon {

// Throws when a view of `size` values cannot hold a w x h rectangle of that stride.
inline void CheckRect(size_t size, int32_t w, int32_t h, int64_t stride) {
  if (w <= 0 || h <= 0) return;
  if (stride < w) throw std::invalid_argument("rectangle row stride below its width");
  const uint64_t need = uint64_t(h - 1) * uint64_t(stride) + uint64_t(w);
  if (need > size) throw std::invalid_argument("rectangle reaches beyond its buffer");
}

// Sums in double run in eight lanes: element i of a run goes to lane i mod 8, and
// the lanes are added pairwise at the end. The scalar and the vector paths both
// follow this order, so their sums agree to the last bit.
constexpr int SumLaneCount = 8;
using TSumLanes = std::array<double, SumLaneCount>;

inline double ReduceSumLanes(const TSumLanes& a) {
  return ((a[0] + a[1]) + (a[2] + a[3])) + ((a[4] + a[5]) + (a[6] + a[7]));
}

// Number of set bits of a 4-bit mask.
inline int MaskBitCount4(int mask) {
  constexpr std::array<int8_t, 16> bits{0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};
  return bits[size_t(mask & 15)];
}

}  // namespace astrelon
