// Turning a 6000 x 4000 RGB image over in place (mirror, flip, rotation by 90
// degrees) on one and on all worker threads, each against a plain copy of the
// three planes into fresh memory measured in the same iterations. The counter
// "ratio" is the fastest run of the routine divided by the fastest copy.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "core/run_state.h"
#include "shell/slots/slot_orientation.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000, Slot = 1;

void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  Store.Reset();
  Store.InUse[Slot] = 1;
  TImageSlot& im = Store.Image[Slot];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = 3;
  im.IsColor = 1;
  im.AllocatePlanes(3);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> v(0.0f, 65535.0f);
  for (int p = 1; p <= 3; ++p)
    for (float& x : im.Planes[size_t(p)]) x = v(rng);
}

// The baseline: the three planes copied into newly allocated planes.
void CopyPlanes() {
  TImageSlot& im = Store.Image[Slot];
  for (int p = 1; p <= 3; ++p) {
    TPlane fresh(im.Planes[size_t(p)].size());
    std::copy(im.Planes[size_t(p)].begin(), im.Planes[size_t(p)].end(), fresh.begin());
    benchmark::DoNotOptimize(fresh.data());
    im.Planes[size_t(p)].swap(fresh);
  }
}

template <typename F>
void RunAgainstCopy(benchmark::State& state, F routine) {
  Prepare();
  const uint8_t saved = UseWorkerThreads;
  UseWorkerThreads = state.range(0) > 1 ? 1 : 0;
  using Clock = std::chrono::steady_clock;
  double bestCopy = 1e30, bestRoutine = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    CopyPlanes();
    const auto t1 = Clock::now();
    routine();
    benchmark::ClobberMemory();
    const auto t2 = Clock::now();
    bestCopy = std::min(bestCopy, std::chrono::duration<double>(t1 - t0).count());
    const double run = std::chrono::duration<double>(t2 - t1).count();
    bestRoutine = std::min(bestRoutine, run);
    state.SetIterationTime(run);
  }
  UseWorkerThreads = saved;
  state.counters["ratio"] = bestRoutine / bestCopy;
  state.counters["copy_ms"] = bestCopy * 1e3;
  state.counters["routine_ms"] = bestRoutine * 1e3;
}

void BM_Mirror(benchmark::State& state) { RunAgainstCopy(state, [] { MirrorSlotHorizontal(Slot); }); }
void BM_Flip(benchmark::State& state) { RunAgainstCopy(state, [] { FlipSlotVertical(Slot); }); }
void BM_Rotate90(benchmark::State& state) { RunAgainstCopy(state, [] { RotateSlotRight90(Slot); }); }

// Argument: worker threads (1, or all cores up to 8).
#define ORIENTATION_BENCH(fn) \
  BENCHMARK(fn)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0)
ORIENTATION_BENCH(BM_Mirror);
ORIENTATION_BENCH(BM_Flip);
ORIENTATION_BENCH(BM_Rotate90);

}  // namespace
}  // namespace astrelon
