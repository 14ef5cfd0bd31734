# The mosaic's baselines are OpenCV's distance transform and warpAffine.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
