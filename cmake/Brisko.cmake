# Helpers that keep every subsystem's build the same shape: a library per folder whose
# sources are picked up by glob, and one GoogleTest executable per test folder.

set(BRISKO_WARNINGS -Wall -Wextra -Wno-unused-parameter)
# A target's moc step waits for nothing but its own headers: no library generates headers
# another one reads, so a library's files compile while the libraries it links are still
# being built, rather than one library after another.
set(CMAKE_AUTOGEN_ORIGIN_DEPENDS OFF)
# At most this many of a target's files are compiled as one unit (see brisko_unity).
set(BRISKO_UNITY_FILES 12)

# brisko_unity(<target> <sources...>)
# Compiles the target's files up to BRISKO_UNITY_FILES at a time as one unit: files of one
# target share most of their headers and of the code instantiated from them, which are then
# parsed and compiled once per unit instead of once per file. A file's unit is chosen from
# a hash of its name, so adding a file moves no other until the count of units grows. Any
# two files of a target may therefore meet in one unit: helpers in anonymous namespaces and
# file-local functions have names unique within their target (two of one name clash, or
# worse, overload each other). A file that cannot be combined is compiled alone with
# set_source_files_properties(<file> PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON); files with
# options of their own (brisko_optimise) always are.
function(brisko_unity target)
  set(cpps ${ARGN})
  list(FILTER cpps INCLUDE REGEX "\\.(cpp|c)$")
  list(LENGTH cpps n)
  math(EXPR groups "(${n} + ${BRISKO_UNITY_FILES} - 1) / ${BRISKO_UNITY_FILES}")
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
  # GCC warns of types in anonymous namespaces used by one declared in another file of the unit.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
  foreach(src ${cpps})
    get_filename_component(file ${src} NAME)
    string(MD5 hash ${file})
    string(SUBSTRING ${hash} 0 4 hash)
    math(EXPR group "0x${hash} % ${groups}")
    set_source_files_properties(${src} TARGET_DIRECTORY ${target} PROPERTIES UNITY_GROUP ${target}_${group})
  endforeach()
endfunction()

# Precompiled headers: the standard and Qt headers nearly every file includes are parsed
# once per build instead of once per file. One header is made for the libraries and one
# for the test suites (with GoogleTest), and every target reuses them. A build with a
# compiler cache leaves them off: the cache cannot reuse results across build folders
# once a precompiled header is in play, and a warm cache is quicker anyway. Files with
# an optimisation level of their own (brisko_optimise) are compiled without it: it was
# made at the build's level.
set(BRISKO_PCH_HEADERS
    <algorithm> <array> <atomic> <cmath> <cstdint> <cstring> <functional> <map> <memory>
    <mutex> <optional> <string> <vector>
    <QByteArray> <QColor> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QImage> <QList>
    <QObject> <QPainter> <QRectF> <QSet> <QString> <QStringList> <QTimer> <QVariant>)

function(brisko_pch_target name)
  cmake_parse_arguments(A "" "" "DEPS;HEADERS" ${ARGN})
  set(src ${PROJECT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${src} CONTENT "// Only carries the precompiled header.\n")
  add_library(${name} STATIC ${src})
  target_compile_options(${name} PRIVATE ${BRISKO_WARNINGS})
  target_link_libraries(${name} PRIVATE ${A_DEPS})
  set(headers)
  foreach(h ${A_HEADERS})
    string(REPLACE ">" "$<ANGLE-R>" h ${h})
    list(APPEND headers "$<$<COMPILE_LANGUAGE:CXX>:${h}>")
  endforeach()
  target_precompile_headers(${name} PRIVATE ${headers})
endfunction()

# The test programs' own files are compiled without optimisation (GCC): their code checks
# results, the work it checks is in the libraries, compiled at the build's level; -O0 takes
# about half the time to compile those heavy files. Their precompiled header goes with them.
set(BRISKO_TEST_CODE_OPTIONS $<$<CXX_COMPILER_ID:GNU>:-O0> CACHE STRING "Options for the test programs' own files")
function(brisko_test_code_options target)
  target_compile_options(${target} PRIVATE ${BRISKO_TEST_CODE_OPTIONS})
endfunction()

if(BRISKO_PCH)
  brisko_pch_target(brisko_pch DEPS Qt6::Gui HEADERS ${BRISKO_PCH_HEADERS})
  if(BRISKO_BUILD_TESTS)
    find_package(GTest REQUIRED)
    brisko_pch_target(brisko_test_pch DEPS GTest::gtest Qt6::Gui
                      HEADERS ${BRISKO_PCH_HEADERS} <gtest/gtest.h> <QTemporaryDir>)
    brisko_test_code_options(brisko_test_pch)
  endif()
endif()

# Uses the precompiled header <pch> in target.
function(brisko_use_pch target pch)
  if(BRISKO_PCH)
    target_precompile_headers(${target} REUSE_FROM ${pch})
  endif()
endfunction()

# brisko_optimise(<target> <files...>)
# Files of target whose loops are written to vectorise, which -O2 leaves scalar, are
# compiled with GCC at -O3 (whatever the build's level; other compilers keep it). They are
# kept out of the precompiled header, whose code was compiled at the build's level.
function(brisko_optimise target)
  foreach(f ${ARGN})
    if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${f})
      message(FATAL_ERROR "brisko_optimise: no file ${f} in ${CMAKE_CURRENT_SOURCE_DIR}")
    endif()
    set_property(SOURCE ${f} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS $<$<CXX_COMPILER_ID:GNU>:-O3>)
    set_property(SOURCE ${f} TARGET_DIRECTORY ${target} PROPERTY SKIP_PRECOMPILE_HEADERS ON)
  endforeach()
endfunction()

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
    brisko_use_pch(${target} brisko_pch)
    if(BRISKO_UNITY_LIBRARIES)
      brisko_unity(${target} ${cpps})
    endif()
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
  # Photos of some kinds are read in the decoder helper (platform/CMakeLists.txt).
  add_dependencies(${name} BriskoDecoder)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  brisko_test_code_options(${name})
  brisko_use_pch(${name} brisko_test_pch)
  # Test files share most of their headers (GoogleTest, Qt, the fixtures), so they are
  # compiled a few at a time as one unit, which halves the suites' compile time.
  if(BRISKO_UNITY_TESTS)
    brisko_unity(${name} ${srcs})
  endif()
  set_property(GLOBAL APPEND PROPERTY BRISKO_TEST_TARGETS ${name})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;BRISKO_RESOURCES=${PROJECT_BINARY_DIR}/resources"
               TIMEOUT 600)
endfunction()
