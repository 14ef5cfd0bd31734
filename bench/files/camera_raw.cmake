# The camera RAW benchmark writes its DNG with the test suite's writer and
# compares against LibRaw alone (already linked through the engine).
list(APPEND bench_sources ${CMAKE_SOURCE_DIR}/tests/raw/dng_writer.cpp)
list(APPEND bench_includes ${CMAKE_SOURCE_DIR}/tests/raw)
