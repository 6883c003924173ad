# quorvix_add_gtest(NAME SOURCES src... LIBS lib... [LABELS label...])
# One GoogleTest executable; each of its tests becomes a ctest test. Cross
# builds register the executable as one test run through the emulator.
function(quorvix_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  quorvix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    QUORVIX_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    # The emulator is made ready first (see tests/CMakeLists.txt).
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED emulator)
    if(ARG_LABELS)
      set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
  else()
    include(GoogleTest)
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
