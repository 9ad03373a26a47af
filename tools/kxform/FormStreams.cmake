# tidewell_form_streams(DIR <dir> OUT_FILES <var>)
#
# Adds the build steps that write the form-definition streams of the program's assistant forms
# (resources/assistant/*.nvform) into <dir>, one <Form>.nvstream each, and returns their paths
# in <var>, in the order ContactForm, DetailsForm, ScrShotForm. Call it from the CMakeLists.txt of
# the folder whose targets use the files.
#
# tidewell_assistant_forms(TARGET <name>)
#
# Makes <name>, an object library holding the streams as the RCDATA resources TKXCONTACTFORM,
# TKXDETAILSFORM and TKXSCRSHOTFORM. An executable links them by listing <name> among its
# libraries.
#
# The steps run "kxstream form" (tools/kxstream): in the native tree the kxstream target, in a
# cross tree a host copy of the tool, built once by the ExternalProject "kxstream_host" with the
# host compiler.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TidewellHostTool.cmake)

# The include guard makes variables set here visible only in the first including folder: the
# functions find their paths and the form names themselves.
macro(_tidewell_assistant_form_names var)
  set(${var} ContactForm DetailsForm ScrShotForm)
endmacro()

function(tidewell_form_streams)
  cmake_parse_arguments(F "" "DIR;OUT_FILES" "" ${ARGN})
  set(sources_dir ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../resources/assistant)
  _tidewell_assistant_form_names(forms)
  tidewell_host_tool(NAME kxstream SOURCE_DIR ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../kxstream OUT_TOOL tool
                     OUT_TARGET target)
  set(deps ${target})
  if(CMAKE_CROSSCOMPILING)
    list(APPEND deps ${tool})
  endif()
  set(files)
  foreach(form ${forms})
    set(source ${sources_dir}/${form}.nvform)
    set(output ${F_DIR}/${form}.nvstream)
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${F_DIR}
      COMMAND ${tool} form ${source} ${output}
      DEPENDS ${deps} ${source}
      COMMENT "Writing form definition ${form}"
      VERBATIM)
    list(APPEND files ${output})
  endforeach()
  set(${F_OUT_FILES} ${files} PARENT_SCOPE)
endfunction()

function(tidewell_assistant_forms)
  cmake_parse_arguments(A "" "TARGET" "" ${ARGN})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/assistant_forms)
  tidewell_form_streams(DIR ${dir} OUT_FILES files)
  _tidewell_assistant_form_names(forms)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${A_TARGET}.rc)
  set(lines "// The assistant form definitions, written by tools/kxstream from resources/assistant.\n")
  foreach(form file IN ZIP_LISTS forms files)
    string(TOUPPER "TKX${form}" name)
    string(APPEND lines "${name} RCDATA \"${file}\"\n")
  endforeach()
  file(CONFIGURE OUTPUT ${rc} CONTENT "${lines}")
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${files}")
  add_custom_target(${A_TARGET}_files DEPENDS ${files})
  add_library(${A_TARGET} OBJECT ${rc})
  add_dependencies(${A_TARGET} ${A_TARGET}_files)
endfunction()
