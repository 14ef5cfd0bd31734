// Histogram counting against a plain loop that reads the same plane once; both
// are timed in each iteration so that the ratio holds on a shared machine.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>

#include "platform/processor_features.h"
#include "store/display/display_histogram.h"
#include "store/image_store.h"

namespace {

using namespace astrelon;
constexpr int Side = 4096;

void MakeSlot() {
  if (Store.InUse[1]) return;
  TImageSlot& im = Store.Image[1];
  im.Width = im.Height = Side;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(3);
  std::normal_distribution<float> sky(1000.0f, 30.0f);  // a sky background: many equal bins
  for (float& v : im.Planes[1]) v = sky(rng);
  for (size_t i = 0; i < im.Planes[1].size(); i += 997) im.Planes[1][i] = BlankPixel;
  Store.InUse[1] = 1;
  UpdateMinMax(1);
  Store.Display[1].Black = 900;
  Store.Display[1].White = 1200;
}

float PlainRead(const TPlane& v) {
  float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  for (size_t i = 0; i + 4 <= v.size(); i += 4) {
    s0 += v[i];
    s1 += v[i + 1];
    s2 += v[i + 2];
    s3 += v[i + 3];
  }
  return s0 + s1 + s2 + s3;
}

void Run(benchmark::State& state, bool sse2) {
  MakeSlot();
  Sse2Enabled = sse2;
  double ours = 0, base = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(PlainRead(Store.Image[1].Planes[1]));
    auto t1 = std::chrono::steady_clock::now();
    ComputeHistogram(1, false, false);
    auto t2 = std::chrono::steady_clock::now();
    base += std::chrono::duration<double>(t1 - t0).count();
    ours += std::chrono::duration<double>(t2 - t1).count();
    state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
  }
  state.counters["ratio_vs_plain_read"] = ours / base;
}

void BM_HistogramScalar(benchmark::State& s) { Run(s, false); }
void BM_HistogramSse2(benchmark::State& s) { Run(s, true); }
BENCHMARK(BM_HistogramScalar)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramSse2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
