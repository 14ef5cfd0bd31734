# The DNG writer of the camera RAW tests makes the mosaics the colour-mosaic dialog is opened on.
target_sources(test_ui_pixelops PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/raw/dng_writer.cpp)
target_include_directories(test_ui_pixelops PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/raw)
