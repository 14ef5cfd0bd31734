# The low pass compares against OpenCV's separable filter, the power-of-two
# spectrum against FFTW's float transform, in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
set(bench_pkg_extra fftw3f_threads)
astrelon_bench_pkg_peer(SPATIAL_FFTW "FFTW 3 (libfftw3-dev)" fftw3f)
