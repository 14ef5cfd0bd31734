# The wavelet noise filter compares against OpenCV's bilateral filter and
# non-local means (photo module).
set(opencv_components core imgproc photo)
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
