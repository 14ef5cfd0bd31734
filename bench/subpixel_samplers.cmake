# The sampler benchmark compares against OpenCV's remap in the same run.
pkg_check_modules(REMAP_PEER REQUIRED IMPORTED_TARGET opencv4)
target_link_libraries(bench_${name} PRIVATE PkgConfig::REMAP_PEER)
