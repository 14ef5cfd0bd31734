# The two-times enlargement by triangulation compares against OpenCV's and
# libvips' bicubic enlargements, the five-by-five sharpening against OpenCV's
# filter2D, in the same run.
include(${ASTRELON_BENCH_SUPPORT}/opencv_peer.cmake)
include(${ASTRELON_BENCH_SUPPORT}/pkg_peer.cmake)
astrelon_bench_pkg_peer(ENLARGEMENT_VIPS "libvips (libvips-dev)" vips)
