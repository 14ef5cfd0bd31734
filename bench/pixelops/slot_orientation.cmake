# Turning an image over compares against OpenCV's flip and rotate.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
