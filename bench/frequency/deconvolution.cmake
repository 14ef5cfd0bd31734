# The deconvolution benchmark compares against FFTW's 2D real transforms (double and float, with threads).
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
set(bench_pkg_extra fftw3_threads fftw3f_threads)
astrelon_bench_pkg_peer(DECONVOLUTION_FFTW "FFTW 3 (libfftw3-dev)" fftw3 fftw3f)
