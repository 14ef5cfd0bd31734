# "Gauss schärfen" compares against libvips' sharpen in the same run.
pkg_check_modules(PIXEL_FILTER_PEERS REQUIRED IMPORTED_TARGET vips)
target_link_libraries(bench_${name} PRIVATE PkgConfig::PIXEL_FILTER_PEERS)
