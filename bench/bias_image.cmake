# The bias image compares against OpenCV's resizing, median and non-local means (photo module).
set(opencv_components core imgproc photo)
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
