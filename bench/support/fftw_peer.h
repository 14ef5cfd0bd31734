#pragma once
// FFTW as the peer of the spectrum benchmarks: 2D real transforms of an M × N
// plane forward and backward in double and float, and the row transforms
// alone (double and float), planned with FFTW_MEASURE for a thread count and
// kept per size.
#include <fftw3.h>

#include <map>
#include <memory>
#include <tuple>

namespace astrelon::bench {

// FFTW's 2D real transforms of an M × N plane, forward and backward, in double and float.
struct TFftwPeer {
  TFftwPeer(int n, int m, int threads) {
    fftw_plan_with_nthreads(threads);
    fftwf_plan_with_nthreads(threads);
    const size_t real = size_t(n) * size_t(m), complex = size_t(n / 2 + 1) * size_t(m);
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
  double* in;
  fftw_complex* out;
  float* inF;
  fftwf_complex* outF;
  fftw_plan forward, backward, rows, rowsBack;
  fftwf_plan forwardF, backwardF, rowsF, rowsBackF;
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
