# Helpers that keep every subsystem's build the same shape: a library per folder whose
# sources are picked up by glob, and one GoogleTest executable per test folder.

set(BRISKO_WARNINGS -Wall -Wextra -Wno-unused-parameter)

# brisko_library(<target> DIR <folder> [DEPS <targets...>] [EXCLUDE <regex>])
# Every .cpp/.h below DIR (minus EXCLUDE) goes into the library; a folder without
# sources yet becomes an INTERFACE library so dependents still link.
function(brisko_library target)
  cmake_parse_arguments(A "" "DIR;EXCLUDE" "DEPS" ${ARGN})
  get_filename_component(root ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR} ABSOLUTE)
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${root}/*.cpp ${root}/*.c ${root}/*.h)
  if(A_EXCLUDE)
    list(FILTER srcs EXCLUDE REGEX "${A_EXCLUDE}")
  endif()
  set(cpps ${srcs})
  list(FILTER cpps INCLUDE REGEX "\\.(cpp|c)$")
  if(cpps)
    add_library(${target} STATIC ${srcs})
    target_compile_options(${target} PRIVATE ${BRISKO_WARNINGS})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${A_DEPS})
    set_target_properties(${target} PROPERTIES AUTOMOC ON)
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} INTERFACE ${A_DEPS})
  endif()
endfunction()

# brisko_tests(<name> DIR <folder> DEPS <targets...>)
# One executable per test folder; CTest learns its cases at test time so the build
# never has to start a GUI process.
function(brisko_tests name)
  cmake_parse_arguments(A "" "DIR" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.h)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_compile_options(${name} PRIVATE ${BRISKO_WARNINGS})
  target_link_libraries(${name} PRIVATE test_support ${A_DEPS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRISKO_RESOURCES=${PROJECT_BINARY_DIR}/resources"
               TIMEOUT 600)
endfunction()
