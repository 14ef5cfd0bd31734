# The mosaic's baselines are OpenCV's distance transform and warpAffine; without
# OpenCV (scripts/setup.sh bench installs it) it is not built.
include(${CMAKE_CURRENT_SOURCE_DIR}/opencv_peer.cmake)
if(NOT OpenCV_FOUND)
  set_target_properties(bench_${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
endif()
