// The "Stärke" blend of a deconvolution on a 4096 × 4096 grey image against a
// plain pass over the same three planes (source and difference read, the
// destination written) on as many threads of the baseline pool, in the same
// iterations (vectorised for the machine). Figure "plain": our time over the
// plain pass's (goal 2). Argument: worker threads (1, or 0 for all cores).
// Check: the blend reports success and equals that of the scalar twin (the
// vector loops off) on the same planes after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "frequency/deconvolution/deconvolution_mix.h"
#include "band_pool.h"
#include "kernels/regions/rect_runs.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Side = 4096, Source = 1, Destination = 2, Difference = 3;

void Prepare() {
  bench::MakeStarFieldSlot(Source, Side, 5, 3000);
  CopyImageSlot(Source, Destination);
  CopyImageSlot(Source, Difference);
  // A difference of both signs, as a deconvolution leaves it.
  float* d = Store.Image[Difference].Planes[1].data();
  for (size_t i = 0; i < Store.Image[Difference].PixelCount(); ++i) d[i] = d[i] - 1000.0f;
  Store.Display[Source].Black = 900;
  Store.Display[Source].White = 5000;
  DetectCpuFeatures();
  ApplySimdSetting();
}

// destination = source + difference, row bands as the blend splits them.
void PlainPass() {
  const float* const v = Store.Image[Source].Planes[1].data();
  const float* const d = Store.Image[Difference].Planes[1].data();
  float* const out = Store.Image[Destination].Planes[1].data();
  const int threads = RectRunThreads(ClipRectToSlot(Source, {0, Side - 1, 0, Side - 1}), 1);
  bench::PlainBands(Side, threads, [=](int64_t first, int64_t last) {
    for (int64_t i = first * Side; i < last * Side; ++i) out[i] = v[i] + d[i];
  });
  benchmark::ClobberMemory();
}

void BM_MixDeconvolutionResult(benchmark::State& state) {
  const int threads = state.range(0) > 0 ? int(state.range(0))
                                         : int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
  Prepare();
  const std::atomic<bool> go{false};
  bench::WithThreads(state, threads, [&] {
    const std::function<void()> mix = [&] {
      bench::Expect(MixDeconvolutionResult(Source, Destination, Difference, 12, go), "no blend");
    };
    bench::Measure(state, mix, {{"plain", PlainPass, 2.0}}, {}, [&] {
      bench::ExpectTwin([] { return bench::SlotPlanes(Destination); }, {}, mix, 0, "blended image");
    });
  });
}

ASTRELON_FIGURES(BM_MixDeconvolutionResult, "plain");
BENCHMARK(BM_MixDeconvolutionResult)->Arg(1)->Arg(0)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
}  // namespace astrelon
