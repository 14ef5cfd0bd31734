# The gradient shift sharpening compares against OpenCV's Sobel, magnitude and
# linear remap of the same planes, in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
