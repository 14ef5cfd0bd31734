#pragma once
// The 512-bit paths of the flattening kernels: compiled for processors with
// AVX-512 (F and VL), taken where the processor has it. They give the bits of
// the scalar paths.
#include "platform/simd_support.h"

#if ASTRELON_HAVE_AVX2
// Without contraction: a product and a sum stay two roundings, as in the
// scalar paths.
#define ASTRELON_AVX512 __attribute__((target("avx512f,avx512vl,avx2,popcnt"), optimize("fp-contract=off")))

namespace astrelon {

inline bool CpuHasAvx512() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && CpuHasAvx2();
  }();
  return has;
}

}  // namespace astrelon
#endif
