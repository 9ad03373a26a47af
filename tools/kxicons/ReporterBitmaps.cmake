# tidewell_reporter_bitmaps(TARGET <name>)
#
# Draws the crash reporter's bitmaps with the kxicons host tool and makes <name>, an object
# library holding them as BITMAP resources (KXISEND ... KXIBIG, KXIPLWAIT, KXISEND32). An
# executable links them by listing <name> among its libraries.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TidewellHostTool.cmake)

set(_TIDEWELL_KXICONS_DIR ${CMAKE_CURRENT_LIST_DIR})

function(tidewell_reporter_bitmaps)
  cmake_parse_arguments(B "" "TARGET" "" ${ARGN})
  tidewell_host_tool(NAME kxicons SOURCE_DIR ${_TIDEWELL_KXICONS_DIR} OUT_TOOL tool OUT_TARGET target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/reporter_bitmaps)
  set(names send save print show continue restart close cantcontinue big plwait send32)
  set(files)
  foreach(name ${names})
    list(APPEND files ${dir}/kxi${name}.bmp)
  endforeach()
  set(deps ${target})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND deps ${tool})
  endif()
  add_custom_command(
    OUTPUT ${files}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${tool} ${dir}
    DEPENDS ${deps}
    COMMENT "Drawing the reporter's bitmaps"
    VERBATIM)
  set(TIDEWELL_BITMAP_DIR ${dir})
  configure_file(${_TIDEWELL_KXICONS_DIR}/ReporterBitmaps.rc.in ${CMAKE_CURRENT_BINARY_DIR}/ReporterBitmaps.rc @ONLY)
  set_source_files_properties(${CMAKE_CURRENT_BINARY_DIR}/ReporterBitmaps.rc PROPERTIES OBJECT_DEPENDS "${files}")
  add_custom_target(${B_TARGET}_files DEPENDS ${files})
  add_library(${B_TARGET} OBJECT ${CMAKE_CURRENT_BINARY_DIR}/ReporterBitmaps.rc)
  add_dependencies(${B_TARGET} ${B_TARGET}_files)
endfunction()
