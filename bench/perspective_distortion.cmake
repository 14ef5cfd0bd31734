# The perspective and field-distortion benchmark compares against OpenCV's
# warpPerspective and remap in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
