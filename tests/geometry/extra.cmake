# numpy as reference through the frequency tests' oracle.
target_sources(test_${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frequency/numpy_oracle.cpp)
