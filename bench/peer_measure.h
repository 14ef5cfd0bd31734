#pragma once
// Timing a routine against several baselines in the same iterations: each
// baseline, then the routine, once per iteration. Counters: the fastest routine
// run in ms ("ms"), and per baseline its fastest run ("<name>_ms"), the ratio
// routine / baseline ("<name>_ratio", below 1: the routine is faster) and, when
// the baseline has one, the ratio's goal ("<name>_ratio_goal").
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"

namespace astrelon::bench {

struct TPeer {
  std::string Name;
  std::function<void()> Run;
  double Goal = 0;  // the ratio must not exceed it; 0: no goal
};

// prepare, when given, runs untimed at the start of each iteration (restoring
// the input of a routine that works in place).
inline void Measure(benchmark::State& state, const std::function<void()>& routine, const std::vector<TPeer>& peers,
                    const std::function<void()>& prepare = {}) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> best(peers.size(), 1e30);
  double bestRoutine = 1e30;
  for (auto _ : state) {
    if (prepare) prepare();
    for (size_t k = 0; k < peers.size(); ++k) {
      const auto t0 = Clock::now();
      peers[k].Run();
      best[k] = std::min(best[k], std::chrono::duration<double>(Clock::now() - t0).count());
    }
    const auto t0 = Clock::now();
    routine();
    const double r = std::chrono::duration<double>(Clock::now() - t0).count();
    bestRoutine = std::min(bestRoutine, r);
    state.SetIterationTime(r);
  }
  state.counters["ms"] = bestRoutine * 1e3;
  for (size_t k = 0; k < peers.size(); ++k) {
    state.counters[peers[k].Name + "_ratio"] = bestRoutine / best[k];
    state.counters[peers[k].Name + "_ms"] = best[k] * 1e3;
    if (peers[k].Goal > 0) state.counters[peers[k].Name + "_ratio_goal"] = peers[k].Goal;
  }
}

// Runs `run` with the "Multicores" option on when more than one thread is
// asked for, then restores the options; the counter "threads" records the count.
template <class F>
void WithThreads(benchmark::State& state, int threads, F&& run) {
  const TProgramOptions saved = Options;
  Options.Multicore = threads > 1;
  run();
  Options = saved;
  state.counters["threads"] = threads;
}

}  // namespace astrelon::bench
