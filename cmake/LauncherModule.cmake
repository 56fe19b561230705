# launcher_module(NAME DIR DEPS...): one static library per folder of the
# layout, made of every source file in that folder. The dependencies listed
# are the only ones the folder may use.
function(launcher_module name)
  cmake_parse_arguments(ARG "" "" "DEPS;PRIVATE_DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  if(NOT sources)
    # A folder whose code has not arrived yet still gives a target, so the
    # layering can be declared once.
    set(sources ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# launcher_test(NAME DEPS...): one GoogleTest program per test folder.
function(launcher_test name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources} ${CMAKE_SOURCE_DIR}/tests/support/PrivateTempEnvironment.cpp)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} test_support GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "LAUNCHER_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()
