# The colour-mosaic methods compare against OpenCV's demosaicing.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
