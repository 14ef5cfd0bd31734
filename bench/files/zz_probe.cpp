#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include "core/settings.h"
#include "platform/processor_features.h"
#include "store/fits/fits_writer.h"
#include "store/header_cards.h"
#include "store/image_store.h"
using namespace astrelon;
static void BM_ProbeSave(benchmark::State& state) {
  DetectCpuFeatures(); ApplySimdSetting();
  const int N = 4096;
  TImageSlot& im = Store.Image[1];
  im.Width = N; im.Height = N; im.PlaneCount = 1; im.IsColor = 0; im.AllocatePlanes(1);
  uint32_t seed = 12345;
  for (int y = 0; y < N; ++y) for (int x = 0; x < N; ++x) { seed = seed * 1664525u + 1013904223u; im.At(1, x, y) = 1000.0f + float(x + y) * 0.5f + float(seed >> 24) * 0.25f; }
  Store.InUse[1] = 1; MakeDefaultHeader(1);
  Options.Multicore = 1; Options.FitsFlip = 1;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    SaveFits(1, -32, "/dev/shm/io-speed-probe/probe.fit", false, false);
    state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
}
BENCHMARK(BM_ProbeSave)->UseManualTime()->Iterations(60)->Unit(benchmark::kMillisecond);
