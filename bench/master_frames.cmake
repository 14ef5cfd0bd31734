# The multifocus merge compares against OpenCV's filter2D in the same run.
include(${CMAKE_CURRENT_LIST_DIR}/opencv_peer.cmake)
