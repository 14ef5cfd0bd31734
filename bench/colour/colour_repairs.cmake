# The fringe removal compares against OpenCV's median blur.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
