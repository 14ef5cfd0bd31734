# The edge image compares against OpenCV's Sobel and magnitude.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
