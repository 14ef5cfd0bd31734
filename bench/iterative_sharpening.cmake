# The iterative sharpenings compare against OpenCV's filter2D and GaussianBlur.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
