// Histogram counting of a 4096 x 4096 sky plane (scalar and SSE2 path, one
// thread and all cores) against a plain loop (vectorised for the machine) that
// reads the same plane once on as many threads of the baseline pool, both timed
// in each iteration (figure "plain"; no library counts into the display's
// bins). Goals: 4 for the SSE2 path (a bin and an increment in memory per
// value: about a cycle, where the read takes a quarter of one), 8 for the
// scalar twin. Check: the counts equal those of the other path (the SSE2
// path's those of the scalar twin, the scalar path's those of the SSE2 path)
// counted after the timed runs.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "band_pool.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
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

// The counts of every plane's histogram.
std::vector<std::vector<float>> Counts() {
  std::vector<float> counts;
  for (const auto& plane : Store.Display[1].Histogram) counts.insert(counts.end(), plane.begin(), plane.end());
  return {counts};
}

void Run(benchmark::State& state, bool sse2) {
  MakeSlot();
  DetectCpuFeatures();
  Sse2Enabled = sse2 && HasSse2;
  const int threads = state.range(0) > 1 ? BandThreads(int64_t(Side) * Side, int64_t(1) << 19, true) : 1;
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, [] { ComputeHistogram(1, false, false); },
        {{"plain", [threads] { benchmark::DoNotOptimize(bench::PlainReadSum(Store.Image[1].Planes[1], threads)); },
          sse2 ? 4.0 : 8.0}},
        {},
        [&] {
          if (sse2) {
            bench::ExpectTwin(Counts, {}, [] { ComputeHistogram(1, false, false); }, 0, "histogram counts");
            return;
          }
          const std::vector<std::vector<float>> scalar = Counts();
          Sse2Enabled = HasSse2;
          ComputeHistogram(1, false, false);
          Sse2Enabled = false;
          bench::ExpectNear(scalar[0], Counts()[0], 0, "histogram counts against the SSE2 path");
        });
  });
}

void BM_HistogramScalar(benchmark::State& s) { Run(s, false); }
void BM_HistogramSse2(benchmark::State& s) { Run(s, true); }
ASTRELON_FIGURES(BM_HistogramScalar, "plain");
ASTRELON_FIGURES(BM_HistogramSse2, "plain");
BENCHMARK(BM_HistogramScalar)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_HistogramSse2)->ArgName("threads")->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace
