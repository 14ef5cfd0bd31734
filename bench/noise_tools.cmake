# The edge image compares against OpenCV's Sobel and magnitude.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
