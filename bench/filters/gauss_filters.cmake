# The Gauss family compares against OpenCV and libvips in the same run.
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
astrelon_bench_pkg_peer(GAUSS_OPENCV "OpenCV (libopencv-dev)" opencv4)
astrelon_bench_pkg_peer(GAUSS_VIPS "libvips (libvips-dev)" vips)
