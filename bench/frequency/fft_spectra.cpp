// Speed of the spectrum images and the 1D interference filter against FFTW on
// the same sizes and worker counts, measured in the same iterations. Figures:
// "fftw" the fastest run over the fastest run of FFTW's double transform
// (planned with FFTW_MEASURE; goal 1.5), "fftwf" over FFTW's float transform,
// the best peer for float images (goal 2.0). The spectrum images are the 2D
// transforms forth or back; the 1D filter is measured against the row
// transforms forth and back.
// Arguments: image side (4096 or 4000), outer margin, worker count (1 or 8).
// Checks: the image back from a spectrum equals the source within 0.01 (the
// round trip in float); every result (spectrum, image back, the interference
// filter's image) equals that of the scalar twin (the vector loops off) on the
// same input after the timed runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "core/settings.h"
#include "fftw_peer.h"
#include "peer_measure.h"
#include "frequency/interference/interference_filter.h"
#include "kernels/fft/fft_sizes.h"
#include "kernels/fft/spectrum_image.h"
#include "platform/processor_features.h"
#include "star_field.h"
#include "store/image_store.h"

namespace astrelon {
namespace {

using bench::Peer;
using bench::TFftwPeer;

constexpr int Source = 1;

// A star field with noise in slot 1.
void MakeSource(int side) { bench::StoreStarField(Source, side, 5); }

// The routine against FFTW's double and float transforms; `after` (untimed)
// frees what the routine's last run made, before each run and at the end;
// `check` judges the last run's result before.
template <class R, class B, class BF, class A>
void Compare(benchmark::State& state, R routine, B baseline, BF floatBaseline, A after,
             const std::function<void()>& check) {
  bench::Measure(state, routine, {{"fftw", baseline, 1.5}, {"fftwf", floatBaseline, 2.0}}, after, check);
  after();
}

struct TSettingsScope {
  explicit TSettingsScope(int threads) : multicore(Options.Multicore) {
    Options.Multicore = threads > 1 ? 1 : 0;
    Sse2Enabled = HasSse2 = true;
    Avx2Enabled = true;
  }
  ~TSettingsScope() { Options.Multicore = multicore; }
  uint8_t multicore;
};

void BM_ImageToFft2D(benchmark::State& state) {
  const int side = int(state.range(0)), outer = int(state.range(1)), threads = int(state.range(2));
  MakeSource(side);
  TSettingsScope scope(threads);
  const TFftImage f = MixedRadixLayout(side, side, outer);
  TFftwPeer& peer = Peer(f.N, f.M, threads);
  int spectrum = -1;
  const std::function<void()> transform = [&] { spectrum = ImageToFft2D(Source, 0, outer); };
  const std::function<void()> release = [&] {
    if (spectrum > 0) FreeSlot(spectrum);
    spectrum = -1;
  };
  Compare(
      state, transform, [&] { fftw_execute(peer.forward); }, [&] { fftwf_execute(peer.forwardF); }, release, [&] {
        bench::Expect(spectrum > 0, "no spectrum made");
        bench::ExpectTwin([&] { return bench::SlotPlanes(spectrum); }, release, transform, 0, "spectrum");
      });
}

void BM_FftToImage2D(benchmark::State& state) {
  const int side = int(state.range(0)), outer = int(state.range(1)), threads = int(state.range(2));
  MakeSource(side);
  TSettingsScope scope(threads);
  const TFftImage f = MixedRadixLayout(side, side, outer);
  TFftwPeer& peer = Peer(f.N, f.M, threads);
  const int spectrum = ImageToFft2D(Source, 0, outer);
  int image = -1;
  const std::function<void()> transform = [&] { image = FftToImage2D(spectrum, -1, outer); };
  const std::function<void()> release = [&] {
    if (image > 0) FreeSlot(image);
    image = -1;
  };
  Compare(
      state, transform, [&] { fftw_execute(peer.backward); }, [&] { fftwf_execute(peer.backwardF); }, release, [&] {
        bench::Expect(image > 0, "no image made");
        bench::ExpectNear(Store.Image[size_t(image)].Planes[1], Store.Image[Source].Planes[1], 0.01,
                          "image back from the spectrum against the source");
        bench::ExpectTwin([&] { return bench::SlotPlanes(image); }, release, transform, 0, "image back");
      });
  FreeSlot(spectrum);
}

// Against FFTW's row transforms forth and back, double and float.
void BM_RemoveInterference1D(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(2));
  MakeSource(side);
  TSettingsScope scope(threads);
  TFftwPeer& peer = Peer(side, side, threads);
  CopyImageSlot(Source, 2);
  const std::function<void()> filter = [] { RemoveInterference1D(Source, 2); };
  Compare(
      state, filter,
      [&] {
        fftw_execute(peer.rows);
        fftw_execute(peer.rowsBack);
      },
      [&] {
        fftwf_execute(peer.rowsF);
        fftwf_execute(peer.rowsBackF);
      },
      [] {},
      [&] {
        // The round trip through the row spectra changes the values a little.
        bench::Expect(bench::Difference(Store.Image[2].Planes[1], Store.Image[Source].Planes[1]).Max > 0,
                      "the filter left the image as it was");
        bench::ExpectTwin([] { return bench::SlotPlanes(2); }, {}, filter, 0, "image without row interference");
      });
  FreeSlot(2);
}

#define SPECTRUM_BENCH(fn)                                                                                 \
  ASTRELON_FIGURES(fn, "fftw", "fftwf");                                                                   \
  BENCHMARK(fn)                                                                                            \
      ->Args({4096, 0, 1})                                                                                 \
      ->Args({4096, 0, 8})                                                                                 \
      ->Args({4000, 0, 1})                                                                                 \
      ->Args({4000, 0, 8})                                                                                 \
      ->Args({4096, 8, 1})                                                                                 \
      ->Args({4096, 8, 8})                                                                                 \
      ->UseManualTime()                                                                                    \
      ->Unit(benchmark::kMillisecond)                                                                      \
      ->MinTime(2.0)
SPECTRUM_BENCH(BM_ImageToFft2D);
SPECTRUM_BENCH(BM_FftToImage2D);
ASTRELON_FIGURES(BM_RemoveInterference1D, "fftw", "fftwf");
BENCHMARK(BM_RemoveInterference1D)
    ->Args({4096, 0, 1})
    ->Args({4096, 0, 8})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon
