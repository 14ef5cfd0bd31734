#pragma once
// A kernel timed against a baseline in the same iterations: each iteration
// runs the baseline, then the kernel. The counters give the fastest run of
// each and their ratio (kernel / baseline), which the machine's load affects
// far less than either time alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace astrelon::bench {

template <typename B, typename K>
void RunPaired(benchmark::State& state, B baseline, K kernel) {
  using Clock = std::chrono::steady_clock;
  double bestBase = 1e30, bestKernel = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    baseline();
    const auto t1 = Clock::now();
    kernel();
    const auto t2 = Clock::now();
    bestBase = std::min(bestBase, std::chrono::duration<double>(t1 - t0).count());
    const double run = std::chrono::duration<double>(t2 - t1).count();
    bestKernel = std::min(bestKernel, run);
    state.SetIterationTime(run);
  }
  state.counters["ratio"] = bestKernel / bestBase;
  state.counters["base_ms"] = bestBase * 1e3;
  state.counters["kernel_ms"] = bestKernel * 1e3;
}

}  // namespace astrelon::bench
