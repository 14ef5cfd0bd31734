// Speed of the frequency filters against FFTW doing the transforms alone, on
// the same sizes and worker counts, measured in the same iterations. Figures
// "fftw" and "fftwf": the fastest run over the fastest run of FFTW's double and
// float transforms (the float ones the best peer for float images):
// - ApplyFrequencyCurveFile (2D spectrum, gains, back; 4096² with the outer
//   margin 8, so N = M = 4104) against FFTW's r2c + c2r 2D of N × M, goals
//   1.5 and 2.0;
// - the 1D filter with "Hor.+Vert." against FFTW's 1D r2c + c2r of all rows
//   and then all columns, goals 2.0 and 2.5.
// Arguments: image side, worker count (1 or 8). Check: the curve filter
// reports success, and both results equal those of the scalar twin (the vector
// loops off) on the same image after the timed runs.
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

#include "bench_folder.h"
#include "fftw_peer.h"
#include "peer_measure.h"
#include "core/settings.h"
#include "frequency/filter/curve_file_filter.h"
#include "frequency/filter/frequency_curve_file.h"
#include "frequency/filter/frequency_filter.h"
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
void MakeSource(int side) { bench::StoreStarField(Source, side, 7); }

// The routine against FFTW's double and float transforms; `before` (untimed)
// runs before each of them.
template <class P, class R>
void Compare(benchmark::State& state, double goal, double floatGoal, P before, R routine, std::function<void()> fftw,
             std::function<void()> fftwf, const std::function<void()>& check) {
  bench::Measure(state, routine, {{"fftw", std::move(fftw), goal}, {"fftwf", std::move(fftwf), floatGoal}}, before,
                 check);
}

struct TSettingsScope {
  explicit TSettingsScope(int threads) : multicore(Options.Multicore), outer(Settings.FftNoiseParam2) {
    Options.Multicore = threads > 1 ? 1 : 0;
    Settings.FftNoiseParam2 = 8;
    Sse2Enabled = HasSse2 = true;
    Avx2Enabled = true;
  }
  ~TSettingsScope() {
    Options.Multicore = multicore;
    Settings.FftNoiseParam2 = outer;
  }
  uint8_t multicore;
  int32_t outer;
};

void BM_ApplyFrequencyCurveFile(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  MakeSource(side);
  TSettingsScope scope(threads);
  const TFftImage f = MixedRadixLayout(side, side, FftOuterMarginSetting());
  TFftwPeer& peer = Peer(f.N, f.M, threads);
  bench::TBenchFolder folder("frequency_filter");
  const std::string file = folder.Path + "/tief.qfg";
  WriteFrequencyCurveFile(file, std::vector<double>{1.0, 0.8, 0.3, 0.1});
  const int work = 2;
  const std::function<void()> copy = [&] { CopyImageSlot(Source, work); };
  const std::function<void()> apply = [&] {
    bench::Expect(ApplyFrequencyCurveFile(work, file), "the curve was not applied");
  };
  Compare(
      state, 1.5, 2.0, copy, apply,
      [&] {
        fftw_execute(peer.forward);
        fftw_execute(peer.backward);
      },
      [&] {
        fftwf_execute(peer.forwardF);
        fftwf_execute(peer.backwardF);
      },
      [&] {
        bench::ExpectTwin([&] { return bench::SlotPlanes(work); }, copy, apply, 0, "image through the curve");
      });
  FreeSlot(work);
}

void BM_RowAndColumnFilter(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  MakeSource(side);
  TSettingsScope scope(threads);
  TFftwPeer& peer = Peer(side, side, threads);
  peer.PlanColumns();
  TFrequencyFilter filter;
  filter.TwoD = false;
  filter.ComputeFilterSpectrum(Source, SelectedChannels(Source), false);
  for (int k = filter.Curves.K() / 2; k < filter.Curves.K(); ++k) filter.Curves.C[size_t(k)] *= 0.2;
  const int result = 2;
  CopyImageSlot(Source, result);
  const std::function<void()> apply = [&] { filter.Apply(Source, result, SelectedChannels(Source), {.Columns = true}); };
  Compare(
      state, 2.0, 2.5, [] {}, apply,
      [&] {
        fftw_execute(peer.rows);
        fftw_execute(peer.rowsBack);
        fftw_execute(peer.columns);
        fftw_execute(peer.columnsBack);
      },
      [&] {
        fftwf_execute(peer.rowsF);
        fftwf_execute(peer.rowsBackF);
        fftwf_execute(peer.columnsF);
        fftwf_execute(peer.columnsBackF);
      },
      [&] {
        bench::ExpectTwin([&] { return bench::SlotPlanes(result); }, {}, apply, 0, "row and column filter result");
      });
  FreeSlot(result);
}

#define FILTER_BENCH(fn)                   \
  ASTRELON_FIGURES(fn, "fftw", "fftwf"); \
  BENCHMARK(fn)->Args({4096, 1})->Args({4096, 8})->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0)
FILTER_BENCH(BM_ApplyFrequencyCurveFile);
FILTER_BENCH(BM_RowAndColumnFilter);

}  // namespace
}  // namespace astrelon
