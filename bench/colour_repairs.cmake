# The fringe removal compares against OpenCV's median blur when it is installed.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
