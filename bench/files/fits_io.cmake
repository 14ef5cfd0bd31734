# The FITS benchmark compares against cfitsio in the same run.
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
astrelon_bench_pkg_peer(FITS_IO_CFITSIO "cfitsio (libcfitsio-dev)" cfitsio)
