# The resampling benchmark compares against OpenCV, libvips and GraphicsMagick in
# the same run; without them (scripts/setup.sh bench installs them) it is not built.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
pkg_check_modules(RESAMPLE_PEERS QUIET IMPORTED_TARGET vips GraphicsMagick)
if(OpenCV_FOUND AND RESAMPLE_PEERS_FOUND)
  target_link_libraries(bench_${name} PRIVATE PkgConfig::RESAMPLE_PEERS)
else()
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
