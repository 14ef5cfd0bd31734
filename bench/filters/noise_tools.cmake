# The edge image compares against OpenCV's Sobel and magnitude.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
