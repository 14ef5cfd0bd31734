# The spectrum benchmark compares against FFTW (double and float, with threads) in the same run.
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
set(bench_pkg_extra fftw3_threads fftw3f_threads)
astrelon_bench_pkg_peer(FFT_SPECTRA_FFTW "FFTW 3 (libfftw3-dev)" fftw3 fftw3f)
