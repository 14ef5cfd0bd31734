# The FITS benchmark compares against cfitsio in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(FITS_IO_CFITSIO "cfitsio (libcfitsio-dev)" cfitsio)
