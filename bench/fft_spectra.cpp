// Speed of the spectrum images and the 1D interference filter against FFTW on
// the same sizes and worker counts, measured in the same iterations. Counters:
// "ratio" the fastest run over the fastest run of FFTW's double transform
// (planned with FFTW_MEASURE), "ratio_float" over FFTW's float transform.
// Arguments: image side (4096 or 4000), outer margin, worker count (1 or 8).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

#include "core/settings.h"
#include "fftw_peer.h"
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

using Clock = std::chrono::steady_clock;
constexpr int Source = 1;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A star field with noise in slot 1.
void MakeSource(int side) { bench::StoreStarField(Source, side, 5); }

// Runs routine and both baselines each iteration; `after` (untimed) cleans up.
template <class R, class B, class BF, class A>
void Compare(benchmark::State& state, R routine, B baseline, BF floatBaseline, A after) {
  double best = 1e30, bestBase = 1e30, bestFloat = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    baseline();
    const auto t1 = Clock::now();
    floatBaseline();
    const auto t2 = Clock::now();
    routine();
    const auto t3 = Clock::now();
    after();
    bestBase = std::min(bestBase, Seconds(t0, t1));
    bestFloat = std::min(bestFloat, Seconds(t1, t2));
    best = std::min(best, Seconds(t2, t3));
    state.SetIterationTime(Seconds(t2, t3));
  }
  state.counters["ratio"] = best / bestBase;
  state.counters["ratio_float"] = best / bestFloat;
  state.counters["ms"] = best * 1e3;
  state.counters["fftw_ms"] = bestBase * 1e3;
  state.counters["fftwf_ms"] = bestFloat * 1e3;
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
  Compare(
      state, [&] { spectrum = ImageToFft2D(Source, 0, outer); }, [&] { fftw_execute(peer.forward); },
      [&] { fftwf_execute(peer.forwardF); }, [&] { FreeSlot(spectrum); });
}

void BM_FftToImage2D(benchmark::State& state) {
  const int side = int(state.range(0)), outer = int(state.range(1)), threads = int(state.range(2));
  MakeSource(side);
  TSettingsScope scope(threads);
  const TFftImage f = MixedRadixLayout(side, side, outer);
  TFftwPeer& peer = Peer(f.N, f.M, threads);
  const int spectrum = ImageToFft2D(Source, 0, outer);
  int image = -1;
  Compare(
      state, [&] { image = FftToImage2D(spectrum, -1, outer); }, [&] { fftw_execute(peer.backward); },
      [&] { fftwf_execute(peer.backwardF); }, [&] { FreeSlot(image); });
  FreeSlot(spectrum);
}

// Against FFTW's row transforms forth and back (double and, as the second
// baseline, the same double plans once more: the filter has no float peer).
void BM_RemoveInterference1D(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(2));
  MakeSource(side);
  TSettingsScope scope(threads);
  TFftwPeer& peer = Peer(side, side, threads);
  CopyImageSlot(Source, 2);
  const auto rows = [&] {
    fftw_execute(peer.rows);
    fftw_execute(peer.rowsBack);
  };
  Compare(state, [&] { RemoveInterference1D(Source, 2); }, rows, rows, [] {});
  FreeSlot(2);
}

#define SPECTRUM_BENCH(fn)                                                                                 \
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
BENCHMARK(BM_RemoveInterference1D)
    ->Args({4096, 0, 1})
    ->Args({4096, 0, 8})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace
}  // namespace astrelon
