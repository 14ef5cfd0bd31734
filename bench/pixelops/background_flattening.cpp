// Speed of the background flattening on one 6000 x 4000 plane on one thread
// and on 8, against a plain pass that reads and writes every pixel once on as
// many threads of the baseline pool, in the same iterations (figure "plain";
// no library estimates a background this way):
//  - "Nebel": FlattenBackgroundAuto with n = 3 (MinBlur of radius 1200: about
//    30 eight-neighbour blur steps of reaches up to 1200 and 600, each reading
//    the work plane and the reference and writing one plane), goal 150;
//  - FlattenBackgroundMasked with radius 50 over the whole image (running
//    percentiles of 101 values along rows and columns), goal 60.
// The argument is the thread count.
#include <benchmark/benchmark.h>

#include <random>

#include "grey_plane_bench.h"
#include "kernels/background/background_flattening.h"
#include "peer_measure.h"
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

void PlainPass(int threads) { bench::PlainPlanePass(Work, Width, Height, threads); }

void BM_FlattenNebula(benchmark::State& state) {
  Bench();
  const int threads = int(state.range(0));
  bench::WithThreads(state, threads, [&] {
    bench::Measure(state, [] { FlattenBackgroundAuto(Source, Work, 3, false); },
                   {{"plain", [threads] { PlainPass(threads); }, 150}}, [] { Bench().Restore(); });
  });
}

void BM_FlattenMaskedRadius50(benchmark::State& state) {
  Bench();
  const int threads = int(state.range(0));
  bench::WithThreads(state, threads, [&] {
    bench::Measure(
        state,
        [] {
          FlattenBackgroundMasked(Source, Work, 50, 0, 0, Width - 1, Height - 1, false, false, false, "", Work, 0.25);
        },
        {{"plain", [threads] { PlainPass(threads); }, 60}}, [] { Bench().Restore(); });
  });
}

ASTRELON_FIGURES(BM_FlattenNebula, "plain");
BENCHMARK(BM_FlattenNebula)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
ASTRELON_FIGURES(BM_FlattenMaskedRadius50, "plain");
BENCHMARK(BM_FlattenMaskedRadius50)->Arg(1)->Arg(8)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
