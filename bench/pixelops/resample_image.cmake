# The resampling benchmark compares against OpenCV and libvips in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
astrelon_bench_pkg_peer(RESAMPLE_VIPS "libvips (libvips-dev)" vips)
