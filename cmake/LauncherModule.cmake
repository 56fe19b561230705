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
  launcher_layer(${name})
endfunction()

# launcher_layer(TARGET): records that TARGET is made of the sources of the
# current folder (and of its sub-folders that are no layer of their own). The
# layering check allows a folder to include only its own headers and those of
# the layers its target links directly.
function(launcher_layer target)
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY LAUNCHER_LAYERS ${target})
  set_property(TARGET ${target} PROPERTY LAUNCHER_LAYER_FOLDER ${folder})
endfunction()

# launcher_write_layering(FILE): writes one line per layer, "folder: allowed
# folders", the allowed ones read from the targets' own link lists, so the
# table the check reads and the build cannot drift apart.
function(launcher_write_layering file)
  get_property(layers GLOBAL PROPERTY LAUNCHER_LAYERS)
  set(lines "")
  foreach(layer ${layers})
    get_target_property(folder ${layer} LAUNCHER_LAYER_FOLDER)
    get_target_property(linked ${layer} LINK_LIBRARIES)
    set(allowed "")
    foreach(dependency ${linked})
      if(TARGET ${dependency} AND ${dependency} IN_LIST layers)
        get_target_property(dependency_folder ${dependency} LAUNCHER_LAYER_FOLDER)
        list(APPEND allowed ${dependency_folder})
      endif()
    endforeach()
    list(JOIN allowed " " allowed)
    string(APPEND lines "${folder} ${layer}: ${allowed}\n")
  endforeach()
  file(WRITE ${file} "${lines}")
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
