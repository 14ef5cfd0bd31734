#pragma once
// FFTW as the peer of the spectrum benchmarks: 2D real transforms of an M × N
// plane forward and backward in double and float, and the row transforms and
// (planned when first asked for) the column transforms alone (double and
// float), planned with FFTW_MEASURE for a thread count and kept per size.
#include <fftw3.h>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

namespace astrelon::bench {

// FFTW's real transforms of an M × N plane (2D, along the rows, along the
// columns), forward and backward, in double and float.
struct TFftwPeer {
  TFftwPeer(int n, int m, int threads) {
    fftw_plan_with_nthreads(threads);
    fftwf_plan_with_nthreads(threads);
    const size_t real = size_t(n) * size_t(m), complex = size_t(n / 2 + 1) * size_t(m);
    N = n;
    M = m;
    Threads = threads;
    in = fftw_alloc_real(real);
    out = fftw_alloc_complex(complex);
    inF = fftwf_alloc_real(real);
    outF = fftwf_alloc_complex(complex);
    forward = fftw_plan_dft_r2c_2d(m, n, in, out, FFTW_MEASURE);
    backward = fftw_plan_dft_c2r_2d(m, n, out, in, FFTW_MEASURE);
    forwardF = fftwf_plan_dft_r2c_2d(m, n, inF, outF, FFTW_MEASURE);
    backwardF = fftwf_plan_dft_c2r_2d(m, n, outF, inF, FFTW_MEASURE);
    rows = fftw_plan_many_dft_r2c(1, &n, m, in, nullptr, 1, n, out, nullptr, 1, n / 2 + 1, FFTW_MEASURE);
    rowsBack = fftw_plan_many_dft_c2r(1, &n, m, out, nullptr, 1, n / 2 + 1, in, nullptr, 1, n, FFTW_MEASURE);
    rowsF = fftwf_plan_many_dft_r2c(1, &n, m, inF, nullptr, 1, n, outF, nullptr, 1, n / 2 + 1, FFTW_MEASURE);
    rowsBackF = fftwf_plan_many_dft_c2r(1, &n, m, outF, nullptr, 1, n / 2 + 1, inF, nullptr, 1, n, FFTW_MEASURE);
    for (size_t i = 0; i < real; ++i) in[i] = inF[i] = float(1000 + (i * 2654435761u) % 1000);
    for (size_t i = 0; i < complex; ++i) out[i][0] = out[i][1] = outF[i][0] = outF[i][1] = 0.5f;
  }
  // Plans the column transforms (once).
  void PlanColumns() {
    if (outColumns) return;
    fftw_plan_with_nthreads(Threads);
    fftwf_plan_with_nthreads(Threads);
    int n = N, m = M;
    const size_t complexColumns = size_t(n) * size_t(m / 2 + 1);
    outColumns = fftw_alloc_complex(complexColumns);
    outColumnsF = fftwf_alloc_complex(complexColumns);
    const std::vector<double> keep(in, in + size_t(n) * size_t(m));
    const std::vector<float> keepF(inF, inF + size_t(n) * size_t(m));
    columns = fftw_plan_many_dft_r2c(1, &m, n, in, nullptr, n, 1, outColumns, nullptr, n, 1, FFTW_MEASURE);
    columnsBack = fftw_plan_many_dft_c2r(1, &m, n, outColumns, nullptr, n, 1, in, nullptr, n, 1, FFTW_MEASURE);
    columnsF = fftwf_plan_many_dft_r2c(1, &m, n, inF, nullptr, n, 1, outColumnsF, nullptr, n, 1, FFTW_MEASURE);
    columnsBackF = fftwf_plan_many_dft_c2r(1, &m, n, outColumnsF, nullptr, n, 1, inF, nullptr, n, 1, FFTW_MEASURE);
    // FFTW_MEASURE overwrote the input with its trials.
    std::copy(keep.begin(), keep.end(), in);
    std::copy(keepF.begin(), keepF.end(), inF);
  }
  int N = 0, M = 0, Threads = 1;
  double* in;
  fftw_complex *out, *outColumns = nullptr;
  float* inF;
  fftwf_complex *outF, *outColumnsF = nullptr;
  fftw_plan forward, backward, rows, rowsBack, columns, columnsBack;
  fftwf_plan forwardF, backwardF, rowsF, rowsBackF, columnsF, columnsBackF;
};

inline TFftwPeer& Peer(int n, int m, int threads) {
  static std::map<std::tuple<int, int, int>, std::unique_ptr<TFftwPeer>> peers;
  auto& p = peers[{n, m, threads}];
  if (!p) p = std::make_unique<TFftwPeer>(n, m, threads);
  return *p;
}

// FFTW's threads, started once per program.
struct TFftwThreads {
  TFftwThreads() {
    fftw_init_threads();
    fftwf_init_threads();
  }
};
inline TFftwThreads FftwThreads;

}  // namespace astrelon::bench
