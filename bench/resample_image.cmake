# The resampling benchmark compares against OpenCV, libvips and GraphicsMagick in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(RESAMPLE_VIPS "libvips (libvips-dev)" vips)
astrelon_bench_pkg_peer(RESAMPLE_GM "GraphicsMagick (libgraphicsmagick++1-dev)" GraphicsMagick)
