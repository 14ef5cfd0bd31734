# The filter kernels compare against OpenCV's erosion.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
