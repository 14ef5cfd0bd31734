#pragma once
// Timing a routine against a peer doing the same job in the same iterations:
// both run once per iteration; the counters give the fastest run of each and
// their ratio (routine / peer, below 1 means faster than the peer), with the
// goal the ratio must not exceed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

namespace astrelon::bench {

// prepare() runs untimed before each iteration (restoring the routine's input).
template <typename Prepare, typename Peer, typename Routine>
void RunAgainstPeer(benchmark::State& state, double goal, Prepare prepare, Peer peer, Routine routine) {
  using Clock = std::chrono::steady_clock;
  double bestPeer = 1e30, bestRoutine = 1e30;
  for (auto _ : state) {
    prepare();
    const auto t0 = Clock::now();
    peer();
    const auto t1 = Clock::now();
    routine();
    const auto t2 = Clock::now();
    const double p = std::chrono::duration<double>(t1 - t0).count();
    const double r = std::chrono::duration<double>(t2 - t1).count();
    bestPeer = std::min(bestPeer, p);
    bestRoutine = std::min(bestRoutine, r);
    state.SetIterationTime(r);
  }
  state.counters["ratio"] = bestRoutine / bestPeer;
  state.counters["ratio_goal"] = goal;
  state.counters["peer_ms"] = bestPeer * 1e3;
  state.counters["routine_ms"] = bestRoutine * 1e3;
}

}  // namespace astrelon::bench
