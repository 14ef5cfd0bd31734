# The master dark compares against cfitsio, the multifocus merge against
# OpenCV's filter2D, in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(MASTER_FRAMES_CFITSIO "cfitsio (libcfitsio-dev)" cfitsio)
