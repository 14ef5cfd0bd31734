# The combination benchmark compares against OpenCV's warpAffine and add in the
# same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
