# kestrelix_add_reporter(<target> [SETTINGS <file>])
#
# Makes the executable <target>, which links Kestrelix::Kestrelix, carry in itself what the crash
# reporter reads from its module, so that the program ships as one file:
#  - the reporter's settings (RCDATA resource TKESTRELIX), written from a settings file in the
#    readable "Name = value" form, or from the built-in defaults when SETTINGS is not given;
#  - after the link, its debug-information container (RCDATA resource TIDEWELLDEBUG): units,
#    functions and lines read from the exe's DWARF by kesgen for the sources below the project's
#    top folder and the reporter's own. Then the exe is stripped.
# The exe as linked (with its DWARF) and the container as a file (<name>.kes) are kept in the
# folder "unstripped" beside the exe, for a debugger and for kxaddr; a .kes beside a shipped exe
# is read when the exe carries no container.
#
# Works in Tidewell's own tree (add_subdirectory) and with the installed package
# (find_package(Kestrelix)); the tools it runs are those of the tree or of the package.
include_guard(GLOBAL)

set(_KESTRELIX_REPORTER_DIR ${CMAKE_CURRENT_LIST_DIR})

function(kestrelix_add_reporter target)
  cmake_parse_arguments(K "" "SETTINGS" "" ${ARGN})
  if(K_UNPARSED_ARGUMENTS OR K_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "kestrelix_add_reporter(${target}): usage: kestrelix_add_reporter(<target> [SETTINGS <file>])")
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "kestrelix_add_reporter: ${target} is not a target of this project")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "EXECUTABLE")
    message(FATAL_ERROR "kestrelix_add_reporter: ${target} is a ${type}; the reporter goes into an executable")
  endif()
  if(NOT CMAKE_STRIP)
    message(FATAL_ERROR "kestrelix_add_reporter: no strip tool (CMAKE_STRIP) for ${target}; set it in the toolchain file")
  endif()
  get_property(tools GLOBAL PROPERTY KESTRELIX_TOOLS)
  get_property(tool_targets GLOBAL PROPERTY KESTRELIX_TOOL_TARGETS)
  get_property(reporter_roots GLOBAL PROPERTY KESTRELIX_SOURCE_ROOTS)
  list(LENGTH tools tool_count)
  if(NOT tool_count EQUAL 3)
    message(FATAL_ERROR "kestrelix_add_reporter: the reporter's build tools are not known (find_package(Kestrelix) first)")
  endif()
  list(GET tools 0 kesgen)
  list(GET tools 1 kxstream)
  list(GET tools 2 kxembed)

  if(K_SETTINGS)
    get_filename_component(settings "${K_SETTINGS}" ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT EXISTS "${settings}")
      message(FATAL_ERROR "kestrelix_add_reporter(${target}): settings file ${settings} not found")
    endif()
  else()
    set(settings ${_KESTRELIX_REPORTER_DIR}/Defaults.settings)
  endif()

  set(work ${CMAKE_CURRENT_BINARY_DIR}/${target}.kestrelix)
  set(stream ${work}/${target}.kxsettings)
  set(tool_files)
  if(CMAKE_CROSSCOMPILING)
    set(tool_files ${kxstream})
  endif()
  add_custom_command(
    OUTPUT ${stream}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${work}
    COMMAND ${kxstream} settings ${settings} ${stream}
    DEPENDS ${settings} ${tool_targets} ${tool_files}
    COMMENT "Writing the reporter settings of ${target}"
    VERBATIM)
  add_custom_target(${target}_kestrelix_settings DEPENDS ${stream})
  add_dependencies(${target} ${target}_kestrelix_settings)
  if(tool_targets)
    add_dependencies(${target} ${tool_targets})
  endif()
  # New settings go in through the steps after the link, so they relink the exe.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${stream})

  set(roots --source-root ${CMAKE_SOURCE_DIR})
  foreach(root IN LISTS reporter_roots)
    if(NOT root STREQUAL CMAKE_SOURCE_DIR)
      list(APPEND roots --source-root ${root})
    endif()
  endforeach()
  set(exe $<TARGET_FILE:${target}>)
  set(unstripped $<TARGET_FILE_DIR:${target}>/unstripped)
  set(container ${unstripped}/$<TARGET_FILE_BASE_NAME:${target}>.kes)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${unstripped}
    COMMAND ${CMAKE_COMMAND} -E copy ${exe} ${unstripped}/
    COMMAND ${kesgen} ${roots} ${exe} ${container}
    COMMAND ${CMAKE_STRIP} --strip-all ${exe}
    COMMAND ${kxembed} ${exe} TKESTRELIX=${stream} TIDEWELLDEBUG=${container}
    COMMENT "Putting the reporter's settings and debug information into ${target}"
    VERBATIM)
endfunction()
