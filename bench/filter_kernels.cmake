# The filter kernels compare against OpenCV's erosion.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
