# The sampler benchmark compares against OpenCV's remap in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
