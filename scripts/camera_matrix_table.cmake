# The camera colour-matrix rows from data/camera-matrices.tsv as C++ initialisers.
#
# Included from CMakeLists.txt it adds the generation step to the engine library:
# the rows are written into <build>/generated/camera_matrix_rows.inc whenever the
# data file (or this script) changes. Run as a script it does the generation:
#   cmake -DINPUT=data/camera-matrices.tsv -DOUTPUT=rows.inc -P scripts/camera_matrix_table.cmake
# Each data line: name, black level, white level, nine XYZ-to-camera coefficients
# x 10000, separated by tabs; lines starting with "#" are comments.

if(CMAKE_SCRIPT_MODE_FILE)
  if(NOT INPUT OR NOT OUTPUT)
    message(FATAL_ERROR "camera_matrix_table.cmake: INPUT and OUTPUT must be given")
  endif()
  file(STRINGS "${INPUT}" lines ENCODING UTF-8)
  set(body "")
  set(count 0)
  set(lineNo 0)
  foreach(line IN LISTS lines)
    math(EXPR lineNo "${lineNo} + 1")
    if(line MATCHES "^#" OR line STREQUAL "")
      continue()
    endif()
    string(REPLACE "\t" ";" fields "${line}")
    list(LENGTH fields n)
    if(NOT n EQUAL 12)
      message(FATAL_ERROR "${INPUT}:${lineNo}: 12 tab-separated fields expected, found ${n}")
    endif()
    list(GET fields 0 name)
    if(name STREQUAL "" OR name MATCHES "[\"\\\\]")
      message(FATAL_ERROR "${INPUT}:${lineNo}: camera name empty or with a quote or backslash")
    endif()
    list(SUBLIST fields 1 11 numbers)
    foreach(v IN LISTS numbers)
      if(NOT v MATCHES "^-?[0-9]+$")
        message(FATAL_ERROR "${INPUT}:${lineNo}: '${v}' is not an integer")
      endif()
    endforeach()
    list(GET fields 1 black)
    list(SUBLIST fields 3 9 matrix)
    list(JOIN matrix ", " matrixText)
    string(APPEND body "    {\"${name}\", ${black}, -1, {${matrixText}}},\n")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count EQUAL 0)
    message(FATAL_ERROR "${INPUT}: no camera rows")
  endif()
  file(WRITE "${OUTPUT}.tmp"
    "// Generated from data/camera-matrices.tsv by scripts/camera_matrix_table.cmake.\n"
    "// Camera rows: name, black level, colour-filter pattern (unknown), XYZ-to-camera x 10000.\n"
    "inline constexpr std::array<camvalue, ${count}> SourcedCameraRows{{\n"
    "${body}"
    "}};\n")
  file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
  return()
endif()

set(CAMERA_ROWS_DIR ${CMAKE_BINARY_DIR}/generated)
set(CAMERA_ROWS ${CAMERA_ROWS_DIR}/camera_matrix_rows.inc)
add_custom_command(
  OUTPUT ${CAMERA_ROWS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CAMERA_ROWS_DIR}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/data/camera-matrices.tsv -DOUTPUT=${CAMERA_ROWS}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${CMAKE_SOURCE_DIR}/data/camera-matrices.tsv ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Generating the camera colour-matrix rows"
  VERBATIM)
target_sources(astrelon_engine PRIVATE ${CAMERA_ROWS})
target_include_directories(astrelon_engine PRIVATE ${CAMERA_ROWS_DIR})
