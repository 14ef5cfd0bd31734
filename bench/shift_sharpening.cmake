# The gradient shift sharpening compares against OpenCV's Sobel, magnitude and
# linear remap of the same planes, in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
