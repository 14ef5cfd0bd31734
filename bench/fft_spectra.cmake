# The spectrum benchmark compares against FFTW (double and float, with threads) in the same run.
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3 fftw3f)
target_link_libraries(bench_${name} PRIVATE PkgConfig::FFTW3 fftw3_threads fftw3f_threads)
