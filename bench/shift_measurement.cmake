# Block matching compares against OpenCV's phase correlation.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
