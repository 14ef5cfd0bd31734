# The combination benchmark compares against OpenCV's warpAffine and add in the
# same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
