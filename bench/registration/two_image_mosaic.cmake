# The mosaic's baselines are OpenCV's distance transform and warpAffine.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
