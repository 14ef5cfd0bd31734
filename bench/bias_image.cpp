// Speed of the bias image from a 6000 x 4000 master dark (halved three times
// to 750 x 500, hot pixels removed, non-local means, resampled back) against
// the non-local-means call alone on the halved image, in the same iterations.
// The counter "nlm_ratio" is the whole command over the filter call (goal: at most 2).
#include <benchmark/benchmark.h>

#include <random>

#include "filters/dialog/filter_state.h"
#include "filters/noise/bias_image.h"
#include "filters/noise/nlm_filter.h"
#include "peer_measure.h"
#include "platform/processor_features.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int W = 6000, H = 4000;

// Slot 1 the dark (level 100, noise, a hot pixel every 50 x 40), slot 3 its
// halved copy and slot 4 the copy the filter reads.
void MakeDark() {
  static bool made = false;
  if (made) return;
  made = true;
  DetectCpuFeatures();
  Sse2Enabled = HasSse2;
  TImageSlot& im = Store.Image[1];
  im.Width = W;
  im.Height = H;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(3);
  std::normal_distribution<float> noise(100.0f, 2.0f);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) im.At(1, x, y) = (x % 50 == 7 && y % 40 == 3) ? 4000.0f : noise(rng);
  Store.InUse[1] = 1;
  UpdateMinMax(1);
  CopyImageSlot(1, 3);
  HalveBiasImageFrom(3, BiasHalvingLimitGrey);
  CopyImageSlot(3, 4);
}

void NlmAlone() {
  TNLMParams p;
  BiasNoiseFilterParams(4, 3, p);
  NLMFilterStarten(p);
  ReleaseFilterSlot(FilterBlurSlot);
  ReleaseFilterSlot(FilterDiffSlot);
}

void BM_BiasImageVsNlm(benchmark::State& state) {
  MakeDark();
  bench::WithThreads(state, 8, [&] {
    bench::Measure(
        state, [] { MakeBiasImage(1, 2); }, {{"nlm", NlmAlone, 2.0}}, [] { CopyImageSlot(1, 2); });
  });
}
BENCHMARK(BM_BiasImageVsNlm)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
