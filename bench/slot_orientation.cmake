# Turning an image over compares against OpenCV's flip and rotate.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
