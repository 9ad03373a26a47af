# tidewell_debug_container(TARGET <exe target> [OUTPUT <file>] [STRIP])
#
# After <exe target> links, writes its debug-information container with kesgen: units named
# after our source files, functions as Class.Method, our line numbers. OUTPUT defaults to the
# exe's path with the extension ".kes", which is where the crash reporter and kxaddr look for
# it (the companion file beside the exe). STRIP then removes the DWARF and the symbol table
# from the exe, as it is shipped, after keeping the exe as linked in the folder "unstripped"
# beside it (for the tools' tests and for a developer's debugger). Call it from the
# CMakeLists.txt that defines the exe.
#
# In the native tree the step runs the kesgen target. In a cross tree it runs a host copy of the
# tool, built once by the ExternalProject "kesgen_host" with the host compiler.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TidewellHostTool.cmake)

set(_TIDEWELL_KESGEN_DIR ${CMAKE_CURRENT_LIST_DIR})

function(tidewell_debug_container)
  cmake_parse_arguments(K "STRIP" "TARGET;OUTPUT" "" ${ARGN})
  if(NOT K_TARGET)
    message(FATAL_ERROR "tidewell_debug_container needs TARGET")
  endif()
  tidewell_host_tool(NAME kesgen SOURCE_DIR ${_TIDEWELL_KESGEN_DIR} OUT_TOOL tool OUT_TARGET dep)
  if(K_OUTPUT)
    set(output ${K_OUTPUT})
  else()
    set(output $<TARGET_FILE_DIR:${K_TARGET}>/$<TARGET_FILE_BASE_NAME:${K_TARGET}>.kes)
  endif()
  add_dependencies(${K_TARGET} ${dep})
  add_custom_command(TARGET ${K_TARGET} POST_BUILD
    COMMAND ${tool} --source-root ${PROJECT_SOURCE_DIR} $<TARGET_FILE:${K_TARGET}> ${output}
    COMMENT "Writing the debug-information container of ${K_TARGET}"
    VERBATIM)
  if(K_STRIP)
    add_custom_command(TARGET ${K_TARGET} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory $<TARGET_FILE_DIR:${K_TARGET}>/unstripped
      COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${K_TARGET}> $<TARGET_FILE_DIR:${K_TARGET}>/unstripped/
      COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${K_TARGET}>
      COMMENT "Stripping ${K_TARGET}"
      VERBATIM)
  endif()
endfunction()
