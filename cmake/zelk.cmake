# Shared helpers for the project's CMake files.

# zelk_library(NAME SOURCES... [DEPS targets...])
# A static library whose headers are included as "lib/...", "runtime/..." or,
# for the client's modules, "<module>/...".
function(zelk_library name)
  cmake_parse_arguments(Z "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${Z_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/apps/mail/src)
  if(Z_DEPS)
    target_link_libraries(${name} PUBLIC ${Z_DEPS})
  endif()
endfunction()

# zelk_test(NAME SOURCES... [DEPS targets...] [LABELS labels...] [TIMEOUT s])
# A GoogleTest executable in build/tests, registered with ctest test by test.
# Label "unit" tests also run under the sanitizer build; "integration" tests
# start real peers; "window" tests need Xvfb.
function(zelk_test name)
  cmake_parse_arguments(Z "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(ZELK_FUZZ)
    return()
  endif()
  if(ZELK_SANITIZE AND NOT "unit" IN_LIST Z_LABELS AND Z_LABELS)
    return()
  endif()
  if(NOT Z_LABELS)
    set(Z_LABELS unit)
  endif()
  if(NOT Z_TIMEOUT)
    set(Z_TIMEOUT 120)
  endif()
  add_executable(${name} ${Z_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${ZELK_TEST_BIN_DIR})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/apps/mail/src)
  target_link_libraries(${name} PRIVATE ${Z_DEPS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    ZELK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ZELK_BINARY_DIR="${CMAKE_BINARY_DIR}"
    ZELK_SHARED_DIR="${CMAKE_SOURCE_DIR}/../shared")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${Z_LABELS}" TIMEOUT ${Z_TIMEOUT})
endfunction()

# zelk_fuzzer(NAME SOURCES... [DEPS targets...]): a libFuzzer target, only in
# the fuzz build (clang, -DZELK_FUZZ=ON).
function(zelk_fuzzer name)
  cmake_parse_arguments(Z "" "" "SOURCES;DEPS" ${ARGN})
  if(NOT ZELK_FUZZ)
    return()
  endif()
  add_executable(${name} ${Z_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/apps/mail/src)
  target_link_libraries(${name} PRIVATE ${Z_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(fuzzers ${name})
endfunction()
