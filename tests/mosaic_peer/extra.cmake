# OpenCV's demosaicing is the peer the colour-mosaic methods are measured against
# (Debian: libopencv-imgproc-dev).
find_path(OPENCV_INCLUDE_DIR opencv2/imgproc.hpp PATH_SUFFIXES opencv4 REQUIRED)
find_library(OPENCV_CORE_LIBRARY opencv_core REQUIRED)
find_library(OPENCV_IMGPROC_LIBRARY opencv_imgproc REQUIRED)
target_include_directories(test_${name} PRIVATE ${OPENCV_INCLUDE_DIR})
target_link_libraries(test_${name} PRIVATE ${OPENCV_IMGPROC_LIBRARY} ${OPENCV_CORE_LIBRARY})
