# "Gauss schärfen" compares against libvips' sharpen in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/pkg_peer.cmake)
astrelon_bench_pkg_peer(PIXEL_FILTERS_VIPS "libvips (libvips-dev)" vips)
