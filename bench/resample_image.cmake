# The resampling benchmark compares against OpenCV and libvips in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(RESAMPLE_VIPS "libvips (libvips-dev)" vips)
