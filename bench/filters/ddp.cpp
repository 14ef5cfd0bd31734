// DDP after a "Gammawert:" move (from position 20, computed untimed, to 30):
// the recomputation of a 4096 x 4096 RGB result from the cached blur, against a
// plain pass that reads the source and the blur and writes the result (figure
// "plain_pass", goal 1.5; vectorised for the machine), on one thread and on all
// cores. Check: every run computes, and the result equals that of the scalar
// twin (the vector loops off) moved to the same gamma after the timed runs.
#include <benchmark/benchmark.h>


#include "filters/ddp/ddp_session.h"
#include "filters/dialog/filter_state.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/parallel_bands.h"
#include "platform/processor_features.h"
#include "random_slot.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

void BM_DdpGammaMove_4096(benchmark::State& state) {
  const int side = 4096, threads = int(state.range(0));
  DetectCpuFeatures();
  ApplySimdSetting();
  Store.Reset();
  bench::FillRandomRgb(1, side, side, 3, 4000.0f);
  UpdateMinMax(1);
  CopyImageSlot(1, 2);
  TDdpSession session;
  if (!session.Start(1, 2)) {
    state.SkipWithError("no blur slot");
    return;
  }
  const std::array<int32_t, 4> masks{-1, DdpMaskR, DdpMaskG, DdpMaskB};
  session.Compute(DdpGammaDefault, DdpRadiusDefault, masks, true);
  const TImageSlot& src = Store.Image[1];
  TImageSlot& dst = Store.Image[2];
  const TImageSlot& blur = Store.Image[size_t(FilterBlurSlot)];
  const size_t count = src.PixelCount();
  // The plain pass: one addition a pixel over the same planes, bands as DDP's.
  auto plain = [&] {
    const int n = BandThreads(int64_t(count), int64_t(1) << 16, threads > 1);
    for (int p = 1; p <= 3; ++p) {
      const float* const a = src.Planes[size_t(p)].data();
      const float* const b = blur.Planes[size_t(p)].data();
      float* const o = dst.Planes[size_t(p)].data();
      bench::PlainBands(int64_t(count), n, [=](int64_t i0, int64_t i1) {
        for (int64_t i = i0; i < i1; ++i) o[i] = a[i] + b[i];
      });
    }
  };
  const auto compute = [&](int gamma) {
    if (session.Compute(gamma, DdpRadiusDefault, masks, threads > 1) != TDdpCompute::Done)
      bench::Fail("DDP did not compute");
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state, [&] { compute(30); }, {{"plain_pass", plain, 1.5}},
        [&] { session.Compute(20, DdpRadiusDefault, masks, threads > 1); },
        [&] {
          bench::ExpectTwin([] { return bench::SlotPlanes(2); },
                            [&] { session.Compute(20, DdpRadiusDefault, masks, threads > 1); }, [&] { compute(30); }, 0,
                            "DDP result at gamma position 30");
        });
  });
  session.End();
  Store.Reset();
}

}  // namespace

ASTRELON_FIGURES(BM_DdpGammaMove_4096, "plain_pass");
BENCHMARK(BM_DdpGammaMove_4096)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace astrelon
