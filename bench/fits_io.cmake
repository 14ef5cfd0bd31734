# The FITS benchmark compares against cfitsio in the same run.
pkg_check_modules(CFITSIO REQUIRED IMPORTED_TARGET cfitsio)
target_link_libraries(bench_${name} PRIVATE PkgConfig::CFITSIO)
