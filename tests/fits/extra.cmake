# The FITS tests check files against cfitsio, an independent implementation.
pkg_check_modules(CFITSIO REQUIRED IMPORTED_TARGET cfitsio)
target_link_libraries(test_${name} PRIVATE PkgConfig::CFITSIO)
