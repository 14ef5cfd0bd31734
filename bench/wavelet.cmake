# The wavelet noise filter compares against OpenCV's bilateral filter and
# non-local means (photo module).
set(opencv_components core imgproc photo)
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
