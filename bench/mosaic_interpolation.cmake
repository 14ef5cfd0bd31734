# The colour-mosaic methods compare against OpenCV's demosaicing.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
