# The bias image compares against OpenCV's resizing, median and non-local means (photo module).
set(opencv_components core imgproc photo)
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
