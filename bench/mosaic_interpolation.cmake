# The colour-mosaic methods compare against OpenCV's demosaicing.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
