# The stray-pixel benchmarks compare against OpenCV's 3 x 3 median.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
