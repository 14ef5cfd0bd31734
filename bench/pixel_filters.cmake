# "Gauss schärfen" compares against OpenCV's Gaussian blur and weighted sum in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
