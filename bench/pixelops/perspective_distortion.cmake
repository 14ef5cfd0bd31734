# The perspective and field-distortion benchmark compares against OpenCV's
# warpPerspective and remap in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
