# The sampler benchmark compares against OpenCV's remap in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
