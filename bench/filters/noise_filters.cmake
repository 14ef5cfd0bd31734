# The noise filters compare against OpenCV's bilateral filter, median blur and
# non-local means (photo module).
set(opencv_components core imgproc photo)
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
