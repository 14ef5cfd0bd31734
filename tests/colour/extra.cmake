# The DNG writer of the camera RAW tests makes the RAW file whose camera is looked up.
target_sources(test_colour PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/raw/dng_writer.cpp)
target_include_directories(test_colour PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/raw)
