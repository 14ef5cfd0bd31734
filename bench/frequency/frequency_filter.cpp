// Speed of the frequency filters against FFTW doing the transforms alone, on
// the same sizes and worker counts, measured in the same iterations. Figures
// "fftw" and "fftwf": the fastest run over the fastest run of FFTW's double and
// float transforms (the float ones the best peer for float images):
// - ApplyFrequencyCurveFile (2D spectrum, gains, back; 4096² with the outer
//   margin 8, so N = M = 4104) against FFTW's r2c + c2r 2D of N × M, goals
//   1.5 and 2.0;
// - the 1D filter with "Hor.+Vert." against FFTW's 1D r2c + c2r of all rows
//   and then all columns, goals 2.0 and 2.5.
// Arguments: image side, worker count (1 or 8).
#include <benchmark/benchmark.h>

#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <tuple>

#include "bench_folder.h"
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

using Clock = std::chrono::steady_clock;
constexpr int Source = 1;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// A star field with noise in slot 1.
void MakeSource(int side) { bench::StoreStarField(Source, side, 7); }

// FFTW's double transforms of an m × n plane: 2D forth and back, and 1D along
// the rows and along the columns, forth and back.
struct TFftwPeer {
  TFftwPeer(int n, int m, int threads) {
    fftw_plan_with_nthreads(threads);
    const size_t real = size_t(n) * size_t(m);
    in = fftw_alloc_real(real);
    out = fftw_alloc_complex(size_t(n / 2 + 1) * size_t(m));
    outColumns = fftw_alloc_complex(size_t(n) * size_t(m / 2 + 1));
    forward = fftw_plan_dft_r2c_2d(m, n, in, out, FFTW_MEASURE);
    backward = fftw_plan_dft_c2r_2d(m, n, out, in, FFTW_MEASURE);
    rows = fftw_plan_many_dft_r2c(1, &n, m, in, nullptr, 1, n, out, nullptr, 1, n / 2 + 1, FFTW_MEASURE);
    rowsBack = fftw_plan_many_dft_c2r(1, &n, m, out, nullptr, 1, n / 2 + 1, in, nullptr, 1, n, FFTW_MEASURE);
    columns = fftw_plan_many_dft_r2c(1, &m, n, in, nullptr, n, 1, outColumns, nullptr, n, 1, FFTW_MEASURE);
    columnsBack = fftw_plan_many_dft_c2r(1, &m, n, outColumns, nullptr, n, 1, in, nullptr, n, 1, FFTW_MEASURE);
    fftwf_plan_with_nthreads(threads);
    inF = fftwf_alloc_real(real);
    outF = fftwf_alloc_complex(size_t(n / 2 + 1) * size_t(m));
    outColumnsF = fftwf_alloc_complex(size_t(n) * size_t(m / 2 + 1));
    forwardF = fftwf_plan_dft_r2c_2d(m, n, inF, outF, FFTW_MEASURE);
    backwardF = fftwf_plan_dft_c2r_2d(m, n, outF, inF, FFTW_MEASURE);
    rowsF = fftwf_plan_many_dft_r2c(1, &n, m, inF, nullptr, 1, n, outF, nullptr, 1, n / 2 + 1, FFTW_MEASURE);
    rowsBackF = fftwf_plan_many_dft_c2r(1, &n, m, outF, nullptr, 1, n / 2 + 1, inF, nullptr, 1, n, FFTW_MEASURE);
    columnsF = fftwf_plan_many_dft_r2c(1, &m, n, inF, nullptr, n, 1, outColumnsF, nullptr, n, 1, FFTW_MEASURE);
    columnsBackF =
        fftwf_plan_many_dft_c2r(1, &m, n, outColumnsF, nullptr, n, 1, inF, nullptr, n, 1, FFTW_MEASURE);
    for (size_t i = 0; i < real; ++i) in[i] = inF[i] = float(1000 + (i * 2654435761u) % 1000);
  }
  double* in;
  fftw_complex* out;
  fftw_complex* outColumns;
  fftw_plan forward, backward, rows, rowsBack, columns, columnsBack;
  float* inF;
  fftwf_complex* outF;
  fftwf_complex* outColumnsF;
  fftwf_plan forwardF, backwardF, rowsF, rowsBackF, columnsF, columnsBackF;
};

TFftwPeer& Peer(int n, int m, int threads) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<TFftwPeer>> peers;
  auto& p = peers[{n, m, threads}];
  if (!p) p = std::make_unique<TFftwPeer>(n, m, threads);
  return *p;
}

// The routine against FFTW's double and float transforms; `before` (untimed)
// runs before each of them.
template <class P, class R>
void Compare(benchmark::State& state, double goal, double floatGoal, P before, R routine, std::function<void()> fftw,
             std::function<void()> fftwf) {
  bench::Measure(state, routine, {{"fftw", std::move(fftw), goal}, {"fftwf", std::move(fftwf), floatGoal}}, before);
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
  Compare(
      state, 1.5, 2.0, [&] { CopyImageSlot(Source, work); }, [&] { ApplyFrequencyCurveFile(work, file); },
      [&] {
        fftw_execute(peer.forward);
        fftw_execute(peer.backward);
      },
      [&] {
        fftwf_execute(peer.forwardF);
        fftwf_execute(peer.backwardF);
      });
  FreeSlot(work);
}

void BM_RowAndColumnFilter(benchmark::State& state) {
  const int side = int(state.range(0)), threads = int(state.range(1));
  MakeSource(side);
  TSettingsScope scope(threads);
  TFftwPeer& peer = Peer(side, side, threads);
  TFrequencyFilter filter;
  filter.TwoD = false;
  filter.ComputeFilterSpectrum(Source, SelectedChannels(Source), false);
  for (int k = filter.Curves.K() / 2; k < filter.Curves.K(); ++k) filter.Curves.C[size_t(k)] *= 0.2;
  const int result = 2;
  CopyImageSlot(Source, result);
  Compare(
      state, 2.0, 2.5, [] {}, [&] { filter.Apply(Source, result, SelectedChannels(Source), {.Columns = true}); },
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
      });
  FreeSlot(result);
}

#define FILTER_BENCH(fn)                   \
  ASTRELON_FIGURES(fn, "fftw", "fftwf"); \
  BENCHMARK(fn)->Args({4096, 1})->Args({4096, 8})->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0)
FILTER_BENCH(BM_ApplyFrequencyCurveFile);
FILTER_BENCH(BM_RowAndColumnFilter);

struct TFftwThreads {
  TFftwThreads() {
    fftw_init_threads();
    fftwf_init_threads();
  }
} fftwThreads;

}  // namespace
}  // namespace astrelon
