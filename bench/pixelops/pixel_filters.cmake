# "Gauss schärfen" compares against OpenCV's Gaussian blur and weighted sum in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
