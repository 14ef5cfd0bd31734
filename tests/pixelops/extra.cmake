# numpy and scipy as reference for the edge image and the spectrum filter.
target_sources(test_pixelops PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frequency/numpy_oracle.cpp)
target_include_directories(test_pixelops PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/frequency)
