# The low pass compares against OpenCV's separable filter, the power-of-two
# spectrum against FFTW's float transform, in the same run.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
pkg_check_modules(SPATIAL_FFTW REQUIRED IMPORTED_TARGET fftw3f)
target_link_libraries(bench_${name} PRIVATE PkgConfig::SPATIAL_FFTW fftw3f_threads)
