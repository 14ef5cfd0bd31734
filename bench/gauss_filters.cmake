# The Gauss family compares against OpenCV, libvips and GraphicsMagick in the same run.
pkg_check_modules(GAUSS_PEERS REQUIRED IMPORTED_TARGET opencv4 vips GraphicsMagick)
target_link_libraries(bench_${name} PRIVATE PkgConfig::GAUSS_PEERS)
