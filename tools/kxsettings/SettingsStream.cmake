# tidewell_settings_stream(OUTPUT <file> SOURCE <file> [TARGET <name>])
#
# Adds a build step that writes the settings stream for a readable settings source (see
# resources/settings/Tidewell.settings). Call it from the CMakeLists.txt of the folder whose
# targets use the OUTPUT file. With TARGET, a custom target of that name builds the stream.
#
# The step runs "kxstream settings" (tools/kxstream): in the native tree the kxstream target, in
# a cross tree a host copy of the tool, built once by the ExternalProject "kxstream_host" with the
# host compiler.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TidewellHostTool.cmake)


function(tidewell_settings_stream)
  cmake_parse_arguments(S "" "OUTPUT;SOURCE;TARGET" "" ${ARGN})
  if(NOT S_OUTPUT OR NOT S_SOURCE)
    message(FATAL_ERROR "tidewell_settings_stream needs OUTPUT and SOURCE")
  endif()
  tidewell_host_tool(NAME kxstream SOURCE_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../kxstream OUT_TOOL tool
                     OUT_TARGET target)
  set(deps ${target})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND deps ${tool})
  endif()
  add_custom_command(
    OUTPUT ${S_OUTPUT}
    COMMAND ${tool} settings ${S_SOURCE} ${S_OUTPUT}
    DEPENDS ${deps} ${S_SOURCE}
    COMMENT "Writing settings stream ${S_OUTPUT}"
    VERBATIM)
  if(S_TARGET)
    add_custom_target(${S_TARGET} DEPENDS ${S_OUTPUT})
  endif()
endfunction()
