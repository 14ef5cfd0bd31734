#pragma once
// The plain baselines at the speed the machine allows, whatever the build: the
// loop is inlined into copies compiled at -O3 for AVX-512, for AVX2 and for the
// base instruction set, and the widest the processor runs is taken at run time
// (as the routines pick their vector paths). So a plain loop is vectorised as a
// user's plain code is in an optimised build for this machine, not left scalar
// by the -O2 of the build the bench command makes. Float reductions vectorise
// with "#pragma omp simd reduction(...)" (the benchmarks build with
// -fopenmp-simd, -fno-math-errno and -fno-trapping-math, bench/CMakeLists.txt). Loops vectorise when their pointers,
// bounds and sums are locals of the loop's lambda (or captured by value), not references into the caller. The loops'
// results are baselines, not references: the copies may contract a multiplication and an addition.
#include <cstdint>
#include <span>
#include <utility>

#include "band_pool.h"
#include "platform/simd_support.h"

namespace astrelon::bench {

template <class F>
[[gnu::flatten, gnu::noinline, gnu::optimize("O3"),
  gnu::target("avx512f,avx512vl,avx512bw,avx512dq,avx2,fma,bmi,bmi2,popcnt")]] void
PlainAvx512(F& f) {
  f();
}
template <class F>
[[gnu::flatten, gnu::noinline, gnu::optimize("O3"), gnu::target("avx2,fma,bmi,bmi2,popcnt")]] void PlainAvx2(F& f) {
  f();
}
template <class F>
[[gnu::flatten, gnu::noinline, gnu::optimize("O3")]] void PlainBase(F& f) {
  f();
}

// Runs f() in the widest copy the processor runs.
template <class F>
void PlainVector(F&& f) {
  if (CpuRunsAvx512())
    PlainAvx512(f);
  else if (CpuHasAvx2())
    PlainAvx2(f);
  else
    PlainBase(f);
}

// fn(first, last) for the bands of [0, count) on `threads` pool threads, each
// band in the widest copy.
template <class F>
void PlainBands(int64_t count, int threads, F&& fn) {
  PoolBands(count, threads, [&](int64_t first, int64_t last) { PlainVector([&] { fn(first, last); }); });
}

// The plain pass of the plane benchmarks: every value of the slot's first
// `planes` planes (0: all) read and written once, in bands of rows on
// `threads` pool threads; with `intoNewPlanes` copied into newly made planes
// that then replace the slot's.
void PlainSlotPass(int slot, int threads, int planes = 0, bool intoNewPlanes = false);

// The plain read: every value read once (their sum, which it returns), in
// bands on `threads` pool threads.
float PlainReadSum(std::span<const float> values, int threads = 1);

}  // namespace astrelon::bench
