// Speed of the background flattening on one 6000 x 4000 plane on one thread
// and on 8, against a plain pass that reads and writes every pixel once on as
// many threads of the baseline pool, in the same iterations (figure "plain";
// no library estimates a background this way). Check: the routine reports
// success and its result equals, value by value, that of its scalar twin (the
// vector loops off) run on the same image after the timed runs.
//  - "Nebel": FlattenBackgroundAuto with n = 3 (MinBlur of radius 1200: about
//    30 eight-neighbour blur steps of reaches up to 1200 and 600, each reading
//    the work plane and the reference and writing one plane), goal 150;
//  - FlattenBackgroundMasked with radius 50 over the whole image (running
//    percentiles of 101 values along rows and columns), goal 60.
// The argument is the thread count.
#include <benchmark/benchmark.h>

#include <functional>
#include <random>

#include "grey_plane_bench.h"
#include "kernels/background/background_flattening.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Source = 1, Work = 2;

// A star field with a gradient in the source slot and its copy in the work slot.
struct TBenchImages {
  TBenchImages() {
    DetectCpuFeatures();  // as at start-up: the SIMD paths
    ApplySimdSetting();
    std::mt19937 rng(5);
    sky.resize(size_t(Width) * Height);
    TPlane square(size_t(Height) * Height);
    bench::FillStarField(square, Height, rng, 4000);
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x)
        sky[size_t(y) * Width + size_t(x)] = square[size_t(y) * Height + size_t(x % Height)] + 0.05f * x + 0.03f * y;
    for (int s : {Source, Work}) bench::PutGreyPlane(s, Width, Height, sky);
    UpdateMinMax(Source);
  }
  void Restore() { Store.Image[Work].Planes[1] = sky; }
  TPlane sky;
};

TBenchImages& Bench() {
  static TBenchImages images;
  return images;
}

void PlainPass(int threads) { bench::PlainSlotPass(Work, threads, 1); }

// The result in the work slot against the scalar twin of `flatten` on the restored image.
void ExpectLikeScalarTwin(const std::function<void()>& flatten, const char* what) {
  bench::ExpectTwin([] { return bench::SlotPlanes(Work); }, [] { Bench().Restore(); }, flatten, 0, what);
}

void BM_FlattenNebula(benchmark::State& state) {
  Bench();
  const int threads = int(state.range(0));
  const std::function<void()> flatten = [] {
    if (!FlattenBackgroundAuto(Source, Work, 3, false)) bench::Fail("the flattening stopped");
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, flatten, {{"plain", [threads] { PlainPass(threads); }, 150}}, [] { Bench().Restore(); },
                   [&] { ExpectLikeScalarTwin(flatten, "Nebel result"); });
  });
}

void BM_FlattenMaskedRadius50(benchmark::State& state) {
  Bench();
  const int threads = int(state.range(0));
  const std::function<void()> flatten = [] {
    if (!FlattenBackgroundMasked(Source, Work, 50, 0, 0, Width - 1, Height - 1, false, false, false, "", Work, 0.25))
      bench::Fail("the flattening stopped");
  };
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, flatten, {{"plain", [threads] { PlainPass(threads); }, 60}}, [] { Bench().Restore(); },
                   [&] { ExpectLikeScalarTwin(flatten, "masked flattening result"); });
  });
}

ASTRELON_FIGURES(BM_FlattenNebula, "plain");
BENCHMARK(BM_FlattenNebula)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
ASTRELON_FIGURES(BM_FlattenMaskedRadius50, "plain");
BENCHMARK(BM_FlattenMaskedRadius50)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
