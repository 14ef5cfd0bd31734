# The filter kernels compare against OpenCV's erosion.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
