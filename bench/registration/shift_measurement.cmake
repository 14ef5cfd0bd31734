# Block matching compares against OpenCV's phase correlation.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
