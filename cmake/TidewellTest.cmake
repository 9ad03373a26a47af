# tidewell_test(name SOURCES ... LIBS ...): one GoogleTest executable, registered with CTest.
# In the cross tree CTest runs it through the Wine emulator. Every test may include the helpers
# of tests/support; TIDEWELL_TEST_TIMEOUT bounds each test (longer where Wine runs emulated).
set(TIDEWELL_TEST_TIMEOUT 300 CACHE STRING "Seconds a test may run")

function(tidewell_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  if(WIN32)
    target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main ${TIDEWELL_STATIC_LINK})
  else()
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT ${TIDEWELL_TEST_TIMEOUT})
endfunction()
