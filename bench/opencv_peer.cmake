# Links the benchmark bench_${name} with OpenCV (core, imgproc) and defines
# ASTRELON_HAVE_OPENCV when OpenCV is installed (scripts/setup.sh bench installs
# it); without it the benchmark runs without its OpenCV baseline. A benchmark
# that needs further modules lists them all in opencv_components first.
if(NOT DEFINED opencv_components)
  set(opencv_components core imgproc)
endif()
find_package(OpenCV QUIET COMPONENTS ${opencv_components})
unset(opencv_components)
if(OpenCV_FOUND)
  target_include_directories(bench_${name} PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_libraries(bench_${name} PRIVATE ${OpenCV_LIBS})
  target_compile_definitions(bench_${name} PRIVATE ASTRELON_HAVE_OPENCV=1)
endif()
