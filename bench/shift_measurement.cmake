# Block matching compares against OpenCV's phase correlation when it is installed.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
