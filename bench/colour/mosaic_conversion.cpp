// Speed of the colour-mosaic conversion's own passes on a 6000 x 4000 mosaic
// ("Bayer, schnelle Vorschau, halbe Größe" with black level and multipliers, a
// few blank pixels to fill), on all cores: the whole conversion against a
// plain loop over the same planes on as many threads of the baseline pool (the
// working copy, black level and multipliers, and the half-size cells; no
// library makes half-size colour from a mosaic). Figure "plain", goal 1.5.
// Check: the conversion makes a slot, and its colour image has the fingerprint
// of a checked run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>

#include "band_pool.h"
#include "core/settings.h"
#include "kernels/mosaic/mosaic_settings.h"
#include "peer_measure.h"
#include "plain_loops.h"
#include "pixelops/mosaic/mosaic_conversion.h"
#include "platform/parallel_bands.h"
#include "store/header_cards.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

constexpr int Width = 6000, Height = 4000;
constexpr int Source = 1;

void MakeMosaic() {
  Store.Reset();
  TImageSlot& im = Store.Image[Source];
  im.Width = Width;
  im.Height = Height;
  im.PlaneCount = 1;
  im.AllocatePlanes(1);
  std::mt19937 rng(5);
  std::normal_distribution<float> noise(0.0f, 30.0f);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x)
      im.Planes[1][size_t(y) * Width + size_t(x)] = 2000.0f + float((x & 1) * 500 + (y & 1) * 900) + noise(rng);
  for (size_t i = 11; i < im.PixelCount(); i += 50021) im.Planes[1][i] = BlankPixel;
  Store.InUse[Source] = 1;
  Store.FileName[Source] = "/tmp/mosaic.fit";
  MakeDefaultHeader(Source);
  UpdateMinMax(Source);
}

// The same planes touched by a plain loop: a working copy less the black level
// times the multipliers, then each 2 x 2 cell into three half-size planes.
void PlainPasses() {
  const TImageSlot& im = Store.Image[Source];
  const float* src = im.Planes[1].data();
  TPlane work(im.PixelCount());
  const int hw = Width / 2, hh = Height / 2;
  TPlane r(size_t(hw) * hh), g(size_t(hw) * hh), b(size_t(hw) * hh);
  float* const w = work.data();
  float *const pr = r.data(), *const pg = g.data(), *const pb = b.data();
  bench::PlainBands(Height, BandThreads(int64_t(Width) * Height, 1 << 18, true), [=](int64_t first, int64_t last) {
    for (int64_t y = first; y < last; ++y)
      for (int x = 0; x < Width; ++x) {
        const size_t i = size_t(y) * Width + size_t(x);
        const float mul = (x & 1) == 0 && (y & 1) == 0 ? 1.9f : (x & 1) && (y & 1) ? 1.4f : 1.0f;
        w[i] = (src[i] - 100.0f) * mul;
      }
  });
  bench::PlainBands(hh, BandThreads(int64_t(Width) * Height, 1 << 18, true), [=](int64_t first, int64_t last) {
    for (int64_t j = first; j < last; ++j)
      for (int i = 0; i < hw; ++i) {
        const float* c = w + size_t(2 * j) * Width + size_t(2 * i);
        const size_t o = size_t(j) * hw + size_t(i);
        pr[o] = c[0];
        pg[o] = (c[1] + c[Width]) * 0.5f;
        pb[o] = c[Width + 1];
      }
  });
  benchmark::DoNotOptimize(r.data());
  benchmark::DoNotOptimize(g.data());
  benchmark::DoNotOptimize(b.data());
}

void BM_HalfSizeConversion(benchmark::State& state) {
  MakeMosaic();
  MosaicSettings = TMosaicSettings{};
  MosaicSettings.Method = DmHalfSize;
  MosaicSettings.Bias = "100";
  MosaicSettings.Rmul = "1.9";
  MosaicSettings.Bmul = "1.4";
  MosaicSettings.CameraProfile = false;
  int result = -1;
  bench::WithThreads(state, BandThreads(int64_t(Width) * Height, 1 << 18, true), [&] {
    bench::Measure(
        state,
        [&] {
          result = GenerateRgbFromMosaic(Source);
          benchmark::ClobberMemory();
          if (result < 1) bench::Fail("no result");
        },
        {{"plain", PlainPasses, 1.5}},
        [&] {
          if (result > 0) FreeSlot(result);
          result = -1;
        },
        [&] {
          bench::ExpectFingerprint(bench::SlotFingerprint(result),
                                   {18000000, 0, 2350.360352, 4834.058594, 3610.014791, 825.7671822, -0.003776255426,
                                    -0.001698435904, 45.20131999},
                                   "half-size colour image");
        });
  });
  if (result > 0) FreeSlot(result);
}
ASTRELON_FIGURES(BM_HalfSizeConversion, "plain");

BENCHMARK(BM_HalfSizeConversion)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(8);

}  // namespace
}  // namespace astrelon
