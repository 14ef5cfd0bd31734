# The detail transfer compares against numpy through the frequency tests' oracle.
target_sources(test_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frequency/numpy_oracle.cpp)
