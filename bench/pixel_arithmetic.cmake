# The stray-pixel benchmark compares against OpenCV's 3 x 3 median when OpenCV is
# installed (scripts/setup.sh bench installs it).
find_package(OpenCV QUIET COMPONENTS core imgproc)
if(OpenCV_FOUND)
  target_include_directories(bench_${name} PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(bench_${name} PRIVATE ${OpenCV_LIBS})
  target_compile_definitions(bench_${name} PRIVATE ASTRELON_HAVE_OPENCV=1)
endif()
