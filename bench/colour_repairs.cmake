# The fringe removal compares against OpenCV's median blur.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
