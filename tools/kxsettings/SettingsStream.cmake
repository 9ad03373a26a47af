# tidewell_settings_stream(OUTPUT <file> SOURCE <file> [TARGET <name>])
#
# Adds a build step that writes the settings stream for a readable settings source (see
# resources/settings/Tidewell.settings). Call it from the CMakeLists.txt of the folder whose
# targets use the OUTPUT file. With TARGET, a custom target of that name builds the stream.
#
# In the native tree the step runs the kxsettings target. In a cross tree it runs a host copy of
# the tool, built once by the ExternalProject "kxsettings_host" with the host compiler.
include_guard(GLOBAL)

set(_TIDEWELL_KXSETTINGS_DIR ${CMAKE_CURRENT_LIST_DIR})

function(_tidewell_kxsettings_host out_tool out_dep)
  set(binary_dir ${CMAKE_BINARY_DIR}/kxsettings_host)
  set(tool ${binary_dir}/kxsettings${CMAKE_HOST_EXECUTABLE_SUFFIX})
  if(NOT TARGET kxsettings_host)
    include(ExternalProject)
    ExternalProject_Add(kxsettings_host
      SOURCE_DIR ${_TIDEWELL_KXSETTINGS_DIR}
      BINARY_DIR ${binary_dir}
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
      BUILD_ALWAYS ON
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${tool})
  endif()
  set(${out_tool} ${tool} PARENT_SCOPE)
  set(${out_dep} kxsettings_host ${tool} PARENT_SCOPE)
endfunction()

function(tidewell_settings_stream)
  cmake_parse_arguments(S "" "OUTPUT;SOURCE;TARGET" "" ${ARGN})
  if(NOT S_OUTPUT OR NOT S_SOURCE)
    message(FATAL_ERROR "tidewell_settings_stream needs OUTPUT and SOURCE")
  endif()
  if(CMAKE_CROSSCOMPILING)
    _tidewell_kxsettings_host(tool deps)
  else()
    set(tool $<TARGET_FILE:kxsettings>)
    set(deps kxsettings)
  endif()
  add_custom_command(
    OUTPUT ${S_OUTPUT}
    COMMAND ${tool} ${S_SOURCE} ${S_OUTPUT}
    DEPENDS ${deps} ${S_SOURCE}
    COMMENT "Writing settings stream ${S_OUTPUT}"
    VERBATIM)
  if(S_TARGET)
    add_custom_target(${S_TARGET} DEPENDS ${S_OUTPUT})
  endif()
endfunction()
