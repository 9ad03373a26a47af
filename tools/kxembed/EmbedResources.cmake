# tidewell_kxembed_tool(OUT_TOOL <var> OUT_TARGET <var>)
#
# The command with which a build step runs kxembed (tools/kxembed: puts RCDATA resources into a
# linked PE image, "kxembed IMAGE NAME=FILE ..."), and the target to depend on so that the tool is
# built first: in the native tree the kxembed target, in a cross tree a host copy of the tool,
# built once by the ExternalProject "kxembed_host" with the host compiler.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TidewellHostTool.cmake)

set(_TIDEWELL_KXEMBED_DIR ${CMAKE_CURRENT_LIST_DIR})

function(tidewell_kxembed_tool)
  cmake_parse_arguments(E "" "OUT_TOOL;OUT_TARGET" "" ${ARGN})
  if(NOT E_OUT_TOOL OR NOT E_OUT_TARGET)
    message(FATAL_ERROR "tidewell_kxembed_tool needs OUT_TOOL and OUT_TARGET")
  endif()
  tidewell_host_tool(NAME kxembed SOURCE_DIR ${_TIDEWELL_KXEMBED_DIR} OUT_TOOL tool OUT_TARGET target)
  set(${E_OUT_TOOL} ${tool} PARENT_SCOPE)
  set(${E_OUT_TARGET} ${target} PARENT_SCOPE)
endfunction()
