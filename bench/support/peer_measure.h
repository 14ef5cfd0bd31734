#pragma once
// Timing a routine against its peers in the same iterations: each peer, then the
// routine, once per iteration, every run preceded (untimed) by `prepare` when
// one is given; after the timed runs `check` judges the routine's last result
// (result_check.h), and a wrong one ends the benchmark without figures. The
// counters of a figure (one per peer, see figures.h):
//   "ms"                  the routine's fastest run
//   "<peer>_ms"           the peer's fastest run
//   "<peer>_ratio"        routine / peer (below 1: the routine is faster)
//   "<peer>_ratio_goal"   the ratio's goal: the figure is met when the ratio
//                         does not exceed it
// A figure timed apart from "ms" (a second routine of the same benchmark) also
// carries "<figure>_routine_ms". A peer or routine that fails ends the benchmark
// with an error and sets no figure, so that the summary counts it as missed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/settings.h"
#include "figures.h"
#include "result_check.h"

namespace astrelon::bench {

struct TPeer {
  // Every peer has a goal: the ratio routine / peer must not exceed it.
  TPeer(std::string name, std::function<void()> run, double goal, std::function<double()> scale = {})
      : Name(std::move(name)), Run(std::move(run)), Goal(goal), Scale(std::move(scale)) {}
  std::string Name;
  std::function<void()> Run;
  double Goal;
  // When given: the peer's run stands for this share of the work the figure
  // compares with (asked once the routine has run), and its time is scaled by it.
  std::function<double()> Scale;
};

// Thrown by a peer or routine that failed; the benchmark ends with the message.
struct TBenchFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] inline void Fail(const std::string& what) { throw TBenchFailure(what); }

inline double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Sets the counters of one figure (see above); ownRoutineTime adds
// "<name>_routine_ms" for a figure whose routine is not the one timed in "ms".
inline void ReportFigure(benchmark::State& state, const std::string& name, double routineSeconds, double peerSeconds,
                         double goal, bool ownRoutineTime = false) {
  state.counters[name + "_ratio"] = routineSeconds / peerSeconds;
  state.counters[name + "_ms"] = peerSeconds * 1e3;
  state.counters[name + "_ratio_goal"] = goal;
  if (ownRoutineTime) state.counters[name + "_routine_ms"] = routineSeconds * 1e3;
}

// Runs `run` and returns its time; a TBenchFailure ends the benchmark (false).
inline bool Timed(benchmark::State& state, const std::function<void()>& run, double& best) {
  try {
    const auto t0 = std::chrono::steady_clock::now();
    run();
    best = std::min(best, Seconds(t0));
    return true;
  } catch (const TBenchFailure& e) {
    state.SkipWithError(e.what());
    return false;
  }
}

// Runs `prepare` (when given); a TBenchFailure ends the benchmark (false).
inline bool Prepared(benchmark::State& state, const std::function<void()>& prepare) {
  if (!prepare) return true;
  try {
    prepare();
    return true;
  } catch (const TBenchFailure& e) {
    state.SkipWithError(e.what());
    return false;
  }
}

inline void Measure(benchmark::State& state, const std::function<void()>& routine, const std::vector<TPeer>& peers,
                    const std::function<void()>& prepare, const std::function<void()>& check) {
  std::vector<double> best(peers.size(), 1e30);
  double bestRoutine = 1e30;
  for (auto _ : state) {
    bool ok = true;
    for (size_t k = 0; k < peers.size() && ok; ++k)
      ok = Prepared(state, prepare) && Timed(state, peers[k].Run, best[k]);
    double run = 1e30;
    if (!ok || !Prepared(state, prepare) || !Timed(state, routine, run)) break;
    bestRoutine = std::min(bestRoutine, run);
    state.SetIterationTime(run);
  }
  if (state.error_occurred() || !Verified(state, check)) return;
  state.counters["ms"] = bestRoutine * 1e3;
  for (size_t k = 0; k < peers.size(); ++k)
    ReportFigure(state, peers[k].Name, bestRoutine, best[k] * (peers[k].Scale ? peers[k].Scale() : 1.0), peers[k].Goal);
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
