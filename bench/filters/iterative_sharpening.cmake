# The iterative sharpenings compare against OpenCV's filter2D and GaussianBlur.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
