#pragma once
// Timing of a routine against a baseline in the same iterations: each iteration
// runs the baseline, an untimed preparation and the routine. The counters give
// the fastest routine run over the fastest baseline run ("ratio") and both
// times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>

namespace astrelon::bench {

using Clock = std::chrono::steady_clock;
inline double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

inline void MeasureRatio(benchmark::State& state, const std::function<void()>& baseline,
                         const std::function<void()>& prepare, const std::function<void()>& routine) {
  double bestBase = 1e30, bestRoutine = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    baseline();
    const auto t1 = Clock::now();
    prepare();
    const auto t2 = Clock::now();
    routine();
    const auto t3 = Clock::now();
    bestBase = std::min(bestBase, Seconds(t0, t1));
    bestRoutine = std::min(bestRoutine, Seconds(t2, t3));
    state.SetIterationTime(Seconds(t2, t3));
  }
  state.counters["ratio"] = bestRoutine / bestBase;
  state.counters["base_ms"] = bestBase * 1e3;
  state.counters["routine_ms"] = bestRoutine * 1e3;
}

}  // namespace astrelon::bench
