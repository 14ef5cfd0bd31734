# The noise filters compare against numpy and scipy through the frequency tests' oracle.
target_sources(test_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frequency/numpy_oracle.cpp)
