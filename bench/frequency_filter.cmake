# The frequency filter benchmark compares against FFTW (double, with threads) in the same run.
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3)
target_link_libraries(bench_${name} PRIVATE PkgConfig::FFTW3 fftw3_threads)
