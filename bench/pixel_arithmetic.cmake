# The stray-pixel benchmarks compare against OpenCV's 3 x 3 median.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
