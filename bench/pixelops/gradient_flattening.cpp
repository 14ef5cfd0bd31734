// Speed of the automatic gradient flattening and of the masking by a second
// image on one 6000 x 4000 plane with 8 threads, against a plain pass that
// reads and writes every pixel once on as many threads of the baseline pool,
// in the same iterations (figure "plain"; no library does either):
//  - FitRadialGradient (every 16th pixel per axis sampled), goal 10;
//  - MaskImageByImage without filling, goal 1.5.
#include <benchmark/benchmark.h>

#include <random>

#include "grey_plane_bench.h"
#include "peer_measure.h"
#include "pixelops/flattening/gradient_flattening.h"
#include "pixelops/flattening/mask_image.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000, Threads = 8;
constexpr int Source = 1, Mask = 2, Work = 3;

// A star field with vignetting around an off-centre point in the source, a
// mask that covers about half of it and a copy of the source to work on.
struct TBenchImages {
  TBenchImages() {
    std::mt19937 rng(7);
    sky.resize(size_t(Width) * Height);
    TPlane square(size_t(Height) * Height);
    bench::FillStarField(square, Height, rng, 4000);
    TPlane mask(sky.size());
    for (int y = 0; y < Height; ++y)
      for (int x = 0; x < Width; ++x) {
        const double dx = x - 2700.0, dy = y - 1800.0;
        const size_t i = size_t(y) * Width + size_t(x);
        sky[i] = square[size_t(y) * Height + size_t(x % Height)] + float(-1e-5 * (dx * dx + dy * dy));
        mask[i] = float((x / 64 + y / 64) % 2) * 100.0f;
      }
    for (int s : {Source, Mask, Work}) {
      bench::PutGreyPlane(s, Width, Height, s == Mask ? mask : sky);
      UpdateMinMax(s);
    }
  }
  void Restore() { Store.Image[Work].Planes[1] = sky; }
  TPlane sky;
};

TBenchImages& Bench() {
  static TBenchImages images;
  return images;
}

void PlainPass() { bench::PlainPlanePass(Work, Width, Height, Threads); }

void BM_FitRadialGradient(benchmark::State& state) {
  Bench();
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, [] { benchmark::DoNotOptimize(FitRadialGradient(Source, 1)); }, {{"plain", PlainPass, 10}},
        [] { Bench().Restore(); });
  });
}

void BM_MaskImageByImage(benchmark::State& state) {
  Bench();
  bench::WithThreads(state, Threads, [&] {
    bench::Measure(
        state, [] { MaskImageByImage(Source, Mask, Work, false); }, {{"plain", PlainPass, 1.5}},
        [] { Bench().Restore(); });
  });
}

ASTRELON_FIGURES(BM_FitRadialGradient, "plain");
BENCHMARK(BM_FitRadialGradient)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
ASTRELON_FIGURES(BM_MaskImageByImage, "plain");
BENCHMARK(BM_MaskImageByImage)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace astrelon
