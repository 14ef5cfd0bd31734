# The Gauss family compares against OpenCV, libvips and GraphicsMagick in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(GAUSS_OPENCV "OpenCV (libopencv-dev)" opencv4)
astrelon_bench_pkg_peer(GAUSS_VIPS "libvips (libvips-dev)" vips)
astrelon_bench_pkg_peer(GAUSS_GM "GraphicsMagick (libgraphicsmagick++1-dev)" GraphicsMagick)
