# The resampling benchmark compares against OpenCV, libvips and GraphicsMagick in the same run.
pkg_check_modules(RESAMPLE_PEERS REQUIRED IMPORTED_TARGET opencv4 vips GraphicsMagick)
target_link_libraries(bench_${name} PRIVATE PkgConfig::RESAMPLE_PEERS)
