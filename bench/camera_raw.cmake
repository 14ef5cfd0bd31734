# The camera RAW benchmark writes its DNG with the test suite's writer and
# compares against LibRaw alone (already linked through the engine).
target_sources(bench_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/raw/dng_writer.cpp)
target_include_directories(bench_${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/raw)
