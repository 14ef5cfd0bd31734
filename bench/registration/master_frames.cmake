# The master dark compares against cfitsio, the multifocus merge against
# OpenCV's filter2D, in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
astrelon_bench_pkg_peer(MASTER_FRAMES_CFITSIO "cfitsio (libcfitsio-dev)" cfitsio)
