# tidewell_host_tool(NAME <tool> SOURCE_DIR <dir> OUT_TOOL <var> OUT_TARGET <var>)
#
# The command with which a build step runs one of our native host tools, and the target that
# builds it.
# In the native tree that is the tool's own target. In a cross tree the tool's folder is built
# once more on its own with the host compiler (an ExternalProject named <tool>_host), since
# the tree's own compiler makes Windows programs.
include_guard(GLOBAL)

function(tidewell_host_tool)
  cmake_parse_arguments(H "" "NAME;SOURCE_DIR;OUT_TOOL;OUT_TARGET" "" ${ARGN})
  if(NOT CMAKE_CROSSCOMPILING)
    set(${H_OUT_TOOL} $<TARGET_FILE:${H_NAME}> PARENT_SCOPE)
    set(${H_OUT_TARGET} ${H_NAME} PARENT_SCOPE)
    return()
  endif()
  set(binary_dir ${CMAKE_BINARY_DIR}/${H_NAME}_host)
  set(tool ${binary_dir}/${H_NAME}${CMAKE_HOST_EXECUTABLE_SUFFIX})
  if(NOT TARGET ${H_NAME}_host)
    include(ExternalProject)
    ExternalProject_Add(${H_NAME}_host
      SOURCE_DIR ${H_SOURCE_DIR}
      BINARY_DIR ${binary_dir}
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
      BUILD_ALWAYS ON
      INSTALL_COMMAND ""
      BUILD_BYPRODUCTS ${tool})
  endif()
  set(${H_OUT_TOOL} ${tool} PARENT_SCOPE)
  set(${H_OUT_TARGET} ${H_NAME}_host PARENT_SCOPE)
endfunction()
