target_compile_definitions(test_layout PRIVATE ASTRELON_SOURCE_DIR="${CMAKE_SOURCE_DIR}/src")
